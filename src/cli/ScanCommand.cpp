#include "cli/ScanCommand.h"

#include "cli/ProgressLine.h"
#include "cli/Usage.h"
#include "platform/ToolLocations.h"
#include "privacy/ExcludeRules.h"
#include "privacy/PrivacySettings.h"
#include "scan/PlatformScanners.h"
#include "scan/ProjectOptOut.h"
#include "scan/ScanCoordinator.h"
#include "settings/MemoryDefaultsStore.h"
#include "settings/QSettingsDefaultsStore.h"
#include "text/TerminalText.h"

#include <QCoreApplication>
#include <qcoro/qcorotask.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <numeric>

namespace quorral::cli {
namespace {

struct ScanOptions {
    bool json = false;
    std::optional<std::string> showPath;
};

struct ToolRow {
    std::string id;
    std::string name;
    bool detected = false;
    std::size_t records = 0;
    std::int64_t messages = 0;
    std::uint64_t bytes = 0;
    std::int64_t redacted = 0;
    std::int64_t excluded = 0;
};

ToolRow summarise(const scan::PlatformScanResult &result, std::int64_t excluded)
{
    ToolRow row{result.id, result.name};
    row.detected = std::holds_alternative<scan::ScanStatus::Found>(result.status.state);
    row.records = result.files.size();
    row.excluded = excluded;
    for (const auto &file : result.files) {
        row.messages += file.messageCount;
        row.bytes += file.content.size();
        row.redacted += file.redactedValues;
    }
    return row;
}

// The scan's own store is never written to disk; it only takes the user's privacy choice,
// so that what is shown is what a sync would send.
void takePrivacyChoice(settings::MemoryDefaultsStore &scratch)
{
    const settings::QSettingsDefaultsStore user;
    privacy::setRedactionEnabled(scratch, privacy::redactionEnabled(user));
}

std::string humanBytes(std::uint64_t bytes)
{
    char text[32];
    if (bytes < 1024)
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    else if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

void printTable(const std::vector<ToolRow> &rows)
{
    std::cout << std::left << std::setw(16) << "TOOL" << std::setw(10) << "DETECTED" << std::right << std::setw(9)
              << "RECORDS" << std::setw(10) << "MESSAGES" << std::setw(12) << "BYTES" << std::setw(10) << "REDACTED"
              << std::setw(10) << "EXCLUDED" << "\n";
    ToolRow total{"", "Total"};
    for (const auto &row : rows) {
        std::cout << std::left << std::setw(16) << row.name << std::setw(10) << (row.detected ? "yes" : "no")
                  << std::right << std::setw(9) << row.records << std::setw(10) << row.messages << std::setw(12)
                  << humanBytes(row.bytes) << std::setw(10) << row.redacted << std::setw(10) << row.excluded << "\n";
        total.records += row.records;
        total.messages += row.messages;
        total.bytes += row.bytes;
        total.redacted += row.redacted;
        total.excluded += row.excluded;
    }
    std::cout << std::left << std::setw(26) << "Total" << std::right << std::setw(9) << total.records << std::setw(10)
              << total.messages << std::setw(12) << humanBytes(total.bytes) << std::setw(10) << total.redacted
              << std::setw(10) << total.excluded << "\n";
}

void printJson(const std::vector<ToolRow> &rows)
{
    nlohmann::json tools = nlohmann::json::array();
    for (const auto &row : rows) {
        tools.push_back({{"id", row.id},
                         {"name", row.name},
                         {"detected", row.detected},
                         {"records", row.records},
                         {"messages", row.messages},
                         {"bytes", row.bytes},
                         {"redacted", row.redacted},
                         {"excluded", row.excluded}});
    }
    std::cout << nlohmann::json{{"tools", tools}}.dump(2) << "\n";
}

int runFullScan(const ScanOptions &options, const std::string &home)
{
    settings::MemoryDefaultsStore store;
    takePrivacyChoice(store);
    scan::ScanTracker tracker(store);
    scan::ScanCoordinator coordinator(scan::makeAllScanners(platform::ToolLocations::forThisPlatform(home), tracker),
                                      tracker);
    auto progress = ProgressLine::forStandardError();
    std::string shown;
    QObject::connect(&coordinator, &scan::ScanCoordinator::resultsChanged, [&] {
        for (const auto &row : coordinator.results()) {
            if (std::holds_alternative<scan::ScanStatus::Scanning>(row.status.state) && row.name != shown) {
                shown = row.name;
                progress.show("Scanning " + row.name + "…");
            }
        }
    });
    QCoro::waitFor(coordinator.startScan());
    progress.clear();

    auto excluded = tracker.takeExcludedCounts();
    std::vector<ToolRow> rows;
    for (const auto &result : coordinator.results())
        rows.push_back(summarise(result, excluded[result.id]));
    if (options.json)
        printJson(rows);
    else
        printTable(rows);
    return 0;
}

int showOneFile(const std::string &requested, const std::string &home)
{
    const std::string path = std::filesystem::absolute(requested).lexically_normal().string();
    settings::MemoryDefaultsStore store;
    takePrivacyChoice(store);
    scan::ScanTracker tracker(store);
    tracker.restrictClaimsTo(path);
    for (const auto &scanner : scan::makeAllScanners(platform::ToolLocations::forThisPlatform(home), tracker)) {
        if (!scanner->detect())
            continue;
        for (const auto &file : scanner->scan()) {
            if (file.path != path)
                continue;
            // The tag and the transcript come from the log: escaped, so it cannot drive the terminal.
            std::cerr << scanner->name() << " · " << file.memoryTypeHint.value_or("no type")
                      << (file.contextTag ? " · tag " + text::escapeForTerminal(*file.contextTag) : std::string())
                      << " · " << file.messageCount << (file.messageCount == 1 ? " record" : " messages")
                      << (file.redactedValues > 0 ? " · " + std::to_string(file.redactedValues) + " redacted"
                                                  : std::string())
                      << "\n";
            std::cout << text::escapeForTerminal(file.content);
            return 0;
        }
    }
    scan::ProjectOptOut projects;
    if (!privacy::ExcludeRules::load(home).excludesPath(path) && !projects.excludes(path)) {
        std::cerr << "quorral: nothing would be uploaded for " << text::escapeForTerminal(path)
                  << " (not a file any tool scanner reads, its tool is excluded, or nothing usable in it)\n";
    } else {
        std::cerr << "quorral: nothing would be uploaded for " << text::escapeForTerminal(path)
                  << ": it is excluded (see `quorral exclude list`, or a .quorral-ignore file in its project)\n";
    }
    return 1;
}

} // namespace

int runScanCommand(const std::vector<std::string> &args, const std::string &home)
{
    ScanOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto &arg = args[i];
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--show") {
            if (i + 1 >= args.size())
                return usageError("scan", "--show needs a PATH");
            options.showPath = args[++i];
        } else {
            return usageError("scan", "unexpected '" + arg + "'");
        }
    }
    if (options.showPath && options.json)
        return usageError("scan", "--show and --json cannot be combined");

    int argc = 1;
    char name[] = "quorral";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    if (options.showPath)
        return showOneFile(*options.showPath, home);
    return runFullScan(options, home);
}

} // namespace quorral::cli
