// Scan benchmark: extraction throughput over generated Claude Code logs, Codex rollouts
// and Gemini CLI chats, the wall time of a first full scan, and the bytes a second and an
// incremental scan read.
//
//   scan_bench [--home DIR] [--megabytes N] [--codex-megabytes N] [--gemini-megabytes N] [--seed N]
//
// The home is generated once (a marker file records the parameters) and reused.
#include "LogGenerator.h"
#include "platform/ToolLocations.h"
#include "scan/GlobFiles.h"
#include "scan/PendingClaims.h"
#include "scan/PlatformScanners.h"
#include "scan/TranscriptExtraction.h"
#include "settings/MemoryDefaultsStore.h"

#include <simdjson.h>

#include <atomic>
#include <chrono>
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/stat.h>
#include <utime.h>

extern "C" ssize_t __real_pread(int fd, void *buffer, size_t count, off_t offset);
extern "C" ssize_t __wrap_pread(int fd, void *buffer, size_t count, off_t offset);

using namespace quorral;
using Clock = std::chrono::steady_clock;

namespace {

// Every file read of the scanning code goes through pread(2); the bench links with
// --wrap=pread so that this counts exactly the bytes it read.
std::atomic<std::uint64_t> preadBytes{0};

std::uint64_t bytesRead()
{
    return preadBytes.load();
}

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::vector<std::string> sessionLogs(const std::string &home)
{
    return scan::globFiles(home + "/.claude/projects", ".jsonl");
}

// The same reads and parse as the extractor, without its filtering: what simdjson alone costs.
std::uint64_t bareSimdjsonPass(const std::vector<std::string> &logs)
{
    simdjson::ondemand::parser parser;
    std::uint64_t texts = 0;
    for (const auto &path : logs) {
        std::ifstream in(path, std::ios::binary | std::ios::ate);
        const auto size = static_cast<std::uint64_t>(in.tellg());
        const std::uint64_t start = size > scan::largeLogThreshold ? size - scan::tailLength : 0;
        std::string buffer(size - start + simdjson::SIMDJSON_PADDING, '\0');
        in.seekg(static_cast<std::streamoff>(start));
        in.read(buffer.data(), static_cast<std::streamsize>(size - start));
        preadBytes += static_cast<std::uint64_t>(in.gcount());
        const std::size_t end = size - start;
        std::size_t pos = 0;
        while (pos < end) {
            std::size_t feed = buffer.find('\n', pos);
            if (feed == std::string::npos || feed > end)
                feed = end;
            if (feed > pos && buffer[pos] == '{') {
                simdjson::ondemand::document doc;
                std::string_view type;
                if (!parser.iterate(buffer.data() + pos, feed - pos, buffer.size() - pos).get(doc)
                    && !doc["type"].get_string().get(type) && (type == "user" || type == "assistant")) {
                    simdjson::ondemand::value content;
                    if (!doc["message"]["content"].get(content)) {
                        std::string_view s;
                        if (!content.get_string().get(s))
                            texts += s.size();
                    }
                }
            }
            pos = feed + 1;
        }
    }
    return texts;
}

struct ScanFigures {
    double wall = 0;
    std::size_t records = 0;
    std::uint64_t bytesRead = 0;
};

ScanFigures scanAll(const platform::ToolLocations &locations, scan::ScanTracker &tracker)
{
    const auto readBefore = bytesRead();
    const auto start = Clock::now();
    ScanFigures figures;
    for (const auto &scanner : scan::makeAllScanners(locations, tracker)) {
        if (!scanner->detect())
            continue;
        auto files = scanner->scan();
        figures.records += files.size();
        // As if every upload was accepted: the claims are recorded, not left in flight.
        scan::PendingClaims(tracker, files).commitAll();
    }
    figures.wall = seconds(start);
    figures.bytesRead = bytesRead() - readBefore;
    return figures;
}

// Single-thread extraction throughput over `logs`, page cache warm: best of three passes.
template <typename Extract>
void reportThroughput(const char *what, const std::vector<std::string> &logs, Extract extract)
{
    if (logs.empty())
        return;
    double best = 0;
    std::uint64_t read = 0;
    std::int64_t messages = 0;
    for (int pass = 0; pass < 3; ++pass) {
        const auto readBefore = bytesRead();
        const auto start = Clock::now();
        messages = 0;
        for (const auto &log : logs)
            if (auto result = extract(log))
                messages += result->messageCount;
        const double elapsed = seconds(start);
        read = bytesRead() - readBefore;
        best = std::max(best, read / elapsed / 1e6);
    }
    std::printf("extraction, %s (1 thread): %.0f MB/s over %.1f MiB read from %zu files (%lld messages)\n", what, best,
                read / 1048576.0, logs.size(), static_cast<long long>(messages));
}

std::vector<std::string> withName(std::vector<std::string> paths, const char *prefix)
{
    std::erase_if(paths, [&](const std::string &path) {
        return !std::filesystem::path(path).filename().string().starts_with(prefix);
    });
    return paths;
}

} // namespace

extern "C" ssize_t __wrap_pread(int fd, void *buffer, size_t count, off_t offset)
{
    const ssize_t n = __real_pread(fd, buffer, count, offset);
    if (n > 0)
        preadBytes += static_cast<std::uint64_t>(n);
    return n;
}

int main(int argc, char **argv)
{
    std::string home = "/tmp/quorral-bench-home";
    std::uint64_t megabytes = 1024;
    std::uint64_t seed = 1;
    std::uint64_t codexMegabytes = 256, geminiMegabytes = 256;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--home")
            home = argv[i + 1];
        else if (arg == "--megabytes")
            megabytes = std::stoull(argv[i + 1]);
        else if (arg == "--codex-megabytes")
            codexMegabytes = std::stoull(argv[i + 1]);
        else if (arg == "--gemini-megabytes")
            geminiMegabytes = std::stoull(argv[i + 1]);
        else if (arg == "--seed")
            seed = std::stoull(argv[i + 1]);
    }

    const std::string marker = home + "/.bench-parameters";
    std::ostringstream parameters;
    parameters << "megabytes=" << megabytes << " codex=" << codexMegabytes << " gemini=" << geminiMegabytes
               << " seed=" << seed;
    std::string existing;
    std::getline(std::ifstream(marker), existing);
    if (existing != parameters.str()) {
        std::filesystem::remove_all(home);
        std::cout << "generating " << megabytes << " MiB of Claude Code logs in " << home << " …" << std::endl;
        const auto start = Clock::now();
        loggen::HomeSpec spec;
        spec.claudeBytes = megabytes << 20;
        spec.codexBytes = codexMegabytes << 20;
        spec.geminiBytes = geminiMegabytes << 20;
        spec.projects = 40;
        const auto summary = loggen::LogGenerator(seed).populateHome(home, spec);
        std::ofstream(marker) << parameters.str() << "\n";
        std::cout << "  " << summary.claudeSessions << " sessions, " << (summary.claudeBytes >> 20) << " MiB; "
                  << summary.codexSessions << " Codex rollouts, " << (summary.codexBytes >> 20) << " MiB; "
                  << summary.geminiChats << " Gemini CLI chats, " << (summary.geminiBytes >> 20) << " MiB in "
                  << seconds(start) << " s\n";
    }

    const auto logs = sessionLogs(home);
    std::uint64_t totalSize = 0;
    std::size_t large = 0;
    for (const auto &log : logs) {
        const auto size = std::filesystem::file_size(log);
        totalSize += size;
        large += size > scan::largeLogThreshold ? 1 : 0;
    }
    std::printf("tree: %zu session logs, %.1f MiB, %zu above 10 MiB\n", logs.size(), totalSize / 1048576.0, large);

    reportThroughput("Claude Code", logs, [](const std::string &log) {
        return scan::extractConversationFromJSONL(log, 0, 150000, scan::LogFormat::chat);
    });
    double bestBare = 0;
    double bareWall = 1e300;
    for (int pass = 0; pass < 3; ++pass) {
        const auto readBefore = bytesRead();
        const auto start = Clock::now();
        bareSimdjsonPass(logs);
        const double elapsed = seconds(start);
        bestBare = std::max(bestBare, (bytesRead() - readBefore) / elapsed / 1e6);
        bareWall = std::min(bareWall, elapsed);
    }
    std::printf("bare simdjson pass over the same bytes (1 thread): %.0f MB/s, %.3f s\n", bestBare, bareWall);

    reportThroughput("Codex", withName(scan::globFiles(home + "/.codex/sessions", ".jsonl"), "rollout-"),
                     [](const std::string &log) {
                         return scan::extractConversationFromJSONL(log, 0, 150000, scan::LogFormat::codex);
                     });
    reportThroughput("Gemini CLI, JSON Lines", withName(scan::globFiles(home + "/.gemini/tmp", ".jsonl"), "session-"),
                     [](const std::string &log) {
                         return scan::extractConversationFromJSONL(log, 0, 150000, scan::LogFormat::geminiChat);
                     });
    reportThroughput("Gemini CLI, documents", withName(scan::globFiles(home + "/.gemini/tmp", ".json"), "session-"),
                     [](const std::string &log) { return scan::extractGeminiChatDocument(log, 150000); });

    settings::MemoryDefaultsStore store;
    scan::ScanTracker tracker(store);
    const auto locations = platform::ToolLocations::forLinux(home, std::nullopt);
    const auto first = scanAll(locations, tracker);
    std::printf("first full scan: %.3f s wall, %zu records, %.1f MiB read (%.2f x the bare pass)\n", first.wall,
                first.records, first.bytesRead / 1048576.0, first.wall / bareWall);

    const auto second = scanAll(locations, tracker);
    std::printf("second scan, nothing changed: %.3f s wall, %zu records, %llu bytes read\n", second.wall, second.records,
                static_cast<unsigned long long>(second.bytesRead));

    // Grow the smallest log above the size floor so that the incremental read is not its whole file.
    std::string target = logs.front();
    for (const auto &log : logs)
        if (std::filesystem::file_size(log) < scan::largeLogThreshold
            && std::filesystem::file_size(log) > std::filesystem::file_size(target))
            target = log;
    const auto offset = tracker.lastFileSize(target);
    const std::string turns = loggen::LogGenerator(seed + 1).claudeTurns(3);
    std::ofstream(target, std::ios::app | std::ios::binary) << turns;
    struct stat st {};
    ::stat(target.c_str(), &st);
    utimbuf times{st.st_atime, st.st_mtime + 10};
    ::utime(target.c_str(), &times);
    const auto third = scanAll(locations, tracker);
    std::printf("scan after appending %zu bytes to one %.1f MiB log (recorded offset %llu): %zu records, %llu bytes read\n",
                turns.size(), (offset + turns.size()) / 1048576.0, static_cast<unsigned long long>(offset), third.records,
                static_cast<unsigned long long>(third.bytesRead));
    std::filesystem::remove(marker); // the tree changed: regenerate next time
    return 0;
}
