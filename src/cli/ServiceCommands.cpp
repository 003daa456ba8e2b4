#include "cli/ServiceCommands.h"

#include "api/APIClient.h"
#include "api/DeviceLoginFlow.h"
#include "async/WaitFor.h"
#include "async/SignalPipe.h"
#include "cli/ProgressLine.h"
#include "cli/ServiceErrors.h"
#include "cli/Usage.h"
#include "credentials/KeychainHelper.h"
#include "integrations/RulesFileManager.h"
#include "platform/HomeDirectory.h"
#include "platform/ToolLocations.h"
#include "privacy/PrivacySettings.h"
#include "scan/PendingClaims.h"
#include "scan/PlatformScanners.h"
#include "root/ServiceRoot.h"
#include "settings/MemoryDefaultsStore.h"
#include "sync/ManualSync.h"
#include "sync/SyncLock.h"
#include "sync/UnsentFiles.h"
#include "text/TerminalText.h"
#include "watch/FileWatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <filesystem>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace quorral::cli {
namespace {

// The Qt event loop a command runs on, and the shared services on top of it.
struct ServiceContext {
    explicit ServiceContext(const std::string &home) : app(argc, argv), root(home) {}

    static inline int argc = 1;
    static inline char name[] = "quorral";
    static inline char *argv[] = {name, nullptr};
    QCoreApplication app;
    services::ServiceRoot root;
    api::APIClient &client = root.client();
};

// `what` may quote a response body of the service: escaped, so it cannot drive the terminal.
int failure(const std::string &what)
{
    std::cerr << "quorral: " << text::escapeForTerminal(what) << "\n";
    return 1;
}

std::string serviceName(const api::APIClient &client)
{
    return client.config().apiBaseURL.toString().toStdString();
}

// The terminal as a login front end: prints the page and opens it when a desktop is there.
class TerminalLoginView final : public api::DeviceLoginView {
public:
    void setPolling(bool) override {}
    // The flow's texts are the tray's; the command words the outcome itself.
    void setErrorText(const QString &) override {}
    void setDeviceLoginURL(const std::optional<QUrl> &) override {}
    void openInBrowser(const QUrl &url) override
    {
        std::cout << "Open this page to sign in: " << url.toString().toStdString() << std::endl;
        if (platform::hasGraphicalSession())
            QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString()});
        std::cerr << "Waiting for the sign-in to finish (Ctrl-C cancels)…" << std::endl;
    }
    void loginSucceeded(const std::string &) override {}
};

std::string localTime(std::chrono::system_clock::time_point when)
{
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    return text;
}

void printUnsentFiles(std::ostream &out, const std::string &home)
{
    const auto unsent = sync::loadUnsentFiles(home);
    if (unsent.empty())
        return;
    out << "Files the last sync did not upload (" << unsent.size() << "):\n";
    for (const auto &file : unsent)
        out << "  " << (file.status == api::UploadStatus::refused ? "refused (too large)  " : "failed, sent again  ")
            << file.tool << "  " << file.path << "\n";
}

std::string joined(std::vector<std::string>::const_iterator begin, std::vector<std::string>::const_iterator end)
{
    std::string text;
    for (auto it = begin; it != end; ++it)
        text += (text.empty() ? "" : " ") + *it;
    return text;
}

std::string humanBytes(std::uint64_t bytes)
{
    char text[32];
    if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

// What a sync would send, tool by tool; the claims are released again, so nothing is recorded.
int previewSync(const std::string &home)
{
    ServiceContext context(home);
    // The scan reads the recorded offsets but writes to a copy: a dry run records nothing,
    // not even the files it finds unusable, and never races a syncing process on the store.
    settings::MemoryDefaultsStore scratch;
    for (const char *key : {scan::ScanTracker::mtimesKey, scan::ScanTracker::countsKey, scan::ScanTracker::sizesKey,
                            privacy::redactSecretsKey}) {
        if (const auto value = context.root.defaults().value(key))
            scratch.setValue(key, *value);
    }
    scan::ScanTracker tracker(scratch);
    auto progress = ProgressLine::forStandardError();
    std::size_t totalFiles = 0, tools = 0;
    std::uint64_t totalBytes = 0;
    std::ostringstream out;
    for (const auto &scanner :
         sync::manualSyncScanners(scan::makeAllScanners(context.root.toolLocations(), tracker))) {
        if (!scanner->detect())
            continue;
        ++tools;
        progress.show("Scanning " + scanner->name() + "…");
        const auto files = scanner->scan();
        const scan::PendingClaims released(tracker, files);
        for (const auto &file : files) {
            out << scanner->id() << "  " << file.messageCount << " msgs  " << humanBytes(file.content.size()) << "  "
                << file.path << "\n";
            totalBytes += file.content.size();
        }
        totalFiles += files.size();
    }
    progress.clear();
    out << totalFiles << " files from " << tools << " tools would be sent (" << humanBytes(totalBytes)
        << "); nothing was sent or recorded.\n";
    std::cout << text::escapeForTerminal(out.view()) << std::flush;
    return 0;
}

} // namespace

int runLogin(const std::vector<std::string> &args, const std::string &home)
{
    if (!args.empty())
        return usageError("login", "takes no arguments");
    ServiceContext context(home);
    TerminalLoginView view;
    api::DeviceLoginFlow flow(context.client, view, api::LoginFrontEnd::trayPanel);

    // Ctrl-C cancels the flow through the event loop, never inside the signal handler.
    async::SignalPipe interrupted({SIGINT});
    QEventLoop loop;
    int status = 1;
    QObject::connect(&interrupted, &async::SignalPipe::received, &loop, [&] {
        flow.cancel();
        std::cerr << "\nLogin cancelled.\n";
        status = 130;
        loop.quit();
    });
    QObject::connect(&flow, &api::DeviceLoginFlow::finished, &loop, [&](api::DeviceLoginFlow::Outcome outcome) {
        switch (outcome) {
        case api::DeviceLoginFlow::Outcome::success:
            std::cout << "Signed in (key " << credentials::keyPrefixForLog(context.client.apiKey().value_or("")) << "...)."
                      << std::endl;
            status = 0;
            break;
        case api::DeviceLoginFlow::Outcome::timeout:
            status = failure("the sign-in was not approved in time; run `quorral login` again");
            break;
        case api::DeviceLoginFlow::Outcome::error:
            status = failure("sign-in failed: " + describeServiceFailure(flow.failure(), serviceName(context.client)));
            break;
        case api::DeviceLoginFlow::Outcome::cancelled:
            status = 130;
            break;
        }
        loop.quit();
    });
    flow.start();
    loop.exec();
    return status;
}

int runLogout(const std::vector<std::string> &args, const std::string &home)
{
    if (!args.empty())
        return usageError("logout", "takes no arguments");
    ServiceContext context(home);
    context.client.clearApiKey();
    integrations::RulesFileManager::removeAll(home);
    std::cout << "Signed out." << std::endl;
    return 0;
}

int runStatus(const std::vector<std::string> &args, const std::string &home)
{
    if (!args.empty())
        return usageError("status", "takes no arguments");
    ServiceContext context(home);
    if (!context.client.hasValidKey())
        return failure("not signed in; run `quorral login` to sign in to " + serviceName(context.client));
    try {
        const auto profile = async::waitFor(context.client.getProfile());
        const auto stats = async::waitFor(context.client.getStats());
        // The names and labels are the service's text, shown escaped.
        std::ostringstream out;
        out << "Signed in as " << profile.displayName;
        if (profile.qoId)
            out << " (" << *profile.qoId << ")";
        out << ", plan " << profile.plan << "\n";
        out << "Level " << profile.level << " · " << profile.levelLabel << " · " << profile.xp << " XP";
        if (profile.isMaxLevel)
            out << " (max level)";
        else if (profile.xpNextLevel)
            out << " (next level at " << *profile.xpNextLevel << ")";
        out << "\nMemories: " << stats.totalMemories << " · conversations: " << stats.totalConversations
            << " · uploads: " << stats.ingestCalls << "\n";
        if (stats.today)
            out << "Today: " << stats.today->newMemories << " new memories, " << stats.today->ingests << " uploads, "
                << stats.today->recalls << " recalls\n";
        const auto &state = context.root.syncState();
        if (const auto last = state.lastSyncAt())
            out << "Last sync from this machine: " << localTime(*last) << "\n";
        out << "Service: " << serviceName(context.client) << "\n";
        printUnsentFiles(out, home);
        std::cout << text::escapeForTerminal(out.view()) << std::flush;
    } catch (const std::exception &error) {
        return failure("cannot read the account: " + describeServiceFailure(error, serviceName(context.client)));
    }
    return 0;
}

int runRemember(const std::vector<std::string> &args, const std::string &home)
{
    std::string text;
    if (args.empty() || (args.size() == 1 && args.front() == "-")) {
        if (::isatty(STDIN_FILENO) == 1)
            std::cerr << "Type the memory, then Ctrl-D on a line of its own:\n";
        std::ostringstream input;
        input << std::cin.rdbuf();
        text = input.str();
    } else if (args.front() == "--") {
        text = joined(args.begin() + 1, args.end());
    } else if (args.front().starts_with("-")) {
        return usageError("remember", "'" + args.front() + "' is not an option; put -- before a text that starts with -");
    } else {
        text = joined(args.begin(), args.end());
    }
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        return usageError("remember", "needs the TEXT to remember (as arguments, or on standard input)");
    ServiceContext context(home);
    if (!context.client.hasValidKey())
        return failure("not signed in; run `quorral login` first");
    try {
        async::waitFor(context.client.saveMemory(text));
    } catch (const std::exception &error) {
        return failure("the memory was not saved: " + describeServiceFailure(error, serviceName(context.client)));
    }
    std::cout << "Remembered." << std::endl;
    return 0;
}

int runSync(const std::vector<std::string> &args, const std::string &home)
{
    if (args.size() == 1 && args.front() == "--dry-run")
        return previewSync(home);
    if (!args.empty())
        return usageError("sync", "unexpected '" + args.front() + "'");
    ServiceContext context(home);
    if (!context.client.hasValidKey())
        return failure("not signed in; run `quorral login` first");
    sync::SyncLock lock(home);
    if (!lock.tryLock()) {
        const auto holder = lock.holder();
        return failure("another Quorral process is syncing this home ("
                       + (holder ? sync::describe(*holder).toStdString() : std::string("holder unknown"))
                       + "); it uploads changes as they happen. Stop it to sync by hand.");
    }
    auto &tracker = context.root.tracker();
    auto scanners = sync::manualSyncScanners(scan::makeAllScanners(context.root.toolLocations(), tracker));
    auto progress = ProgressLine::forStandardError();
    const auto result = async::waitFor(sync::syncLocalMemories(
        std::move(scanners), tracker, context.client, context.root.syncState(),
        [&progress](const std::string &name) { progress.show("Scanning " + name + "…"); }));
    progress.clear();
    context.root.flush();
    if (const auto error = sync::saveUnsentFiles(home, result.pathsSent, result.unsent))
        std::cerr << "quorral: cannot keep the list of unsent files: " << error->message() << "\n";
    // The result's message is the tray's; the command line says it from the numbers.
    std::cout << "Scanned " << result.tools << (result.tools == 1 ? " tool" : " tools") << ": ";
    if (result.filesUploaded == 0)
        std::cout << "nothing new uploaded.\n";
    else
        std::cout << result.filesUploaded << (result.filesUploaded == 1 ? " file" : " files") << " uploaded, about "
                  << result.conversations << " new conversations.\n";
    std::cout.flush();
    if (!result.unsent.empty()) {
        const auto refused = static_cast<std::size_t>(std::count_if(
            result.unsent.begin(), result.unsent.end(),
            [](const sync::UnsentFile &file) { return file.status == api::UploadStatus::refused; }));
        std::cerr << "quorral: " << result.unsent.size() << " of " << result.filesFound << " files were not uploaded to "
                  << serviceName(context.client) << " (" << result.unsent.size() - refused
                  << " failed and are sent again by the next sync, " << refused
                  << " refused as too large); `quorral status` lists them\n";
        return 1;
    }
    return 0;
}

int runDaemon(const std::vector<std::string> &args, const std::string &home)
{
    watch::DirectoryWatcherOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--max-watches") {
            if (i + 1 >= args.size())
                return usageError("daemon", "--max-watches needs a number");
            try {
                options.maxWatches = std::stoi(args[++i]);
            } catch (const std::exception &) {
                return usageError("daemon", "--max-watches needs a number");
            }
        } else {
            return usageError("daemon", "unexpected '" + args[i] + "'");
        }
    }
    ServiceContext context(home);
    auto &tracker = context.root.tracker();
    auto &watcher = context.root.makeWatcher(options);
    QObject::connect(&watcher, &watch::FileWatcher::syncFinished, [&context, &home](const watch::SyncReport &report) {
        context.root.flush();
        if (!report.sent.empty()) {
            if (const auto error = sync::saveUnsentFiles(home, report.sent, report.unsent))
                std::cerr << "quorral: cannot keep the list of unsent files: " << error->message() << "\n";
        }
        if (report.outcome == watch::SyncReport::Outcome::nothingNew)
            return;
        std::cout << localTime(std::chrono::system_clock::now()) << " " << text::escapeForTerminal(watch::describe(report))
                  << std::endl;
    });
    async::SignalPipe stop({SIGINT, SIGTERM});
    QObject::connect(&stop, &async::SignalPipe::received, &context.app, [&](int) {
        watcher.stopAll();
        std::cout << "Stopped." << std::endl;
        QCoreApplication::quit();
    });
    // Only the holder of the sync lock watches; otherwise this one waits for its turn.
    sync::SyncLock lock(home);
    QTimer retry;
    const auto start = [&] {
        watcher.startWatching();
        int present = 0;
        for (const auto &target : watcher.targets()) {
            std::error_code error;
            present += std::filesystem::is_directory(target.path, error) ? 1 : 0;
        }
        std::cout << "Watching " << present << " of " << watcher.targets().size()
                  << " tool folders, and the others as they appear (" << watcher.directories().watchCount()
                  << " watches); syncing to " << serviceName(context.client)
                  << "; a full check runs now and every 30 minutes." << std::endl;
        if (!context.client.hasValidKey())
            std::cout << "Not signed in yet: syncs are skipped until `quorral login`." << std::endl;
        tracker.pruneMissing();
        // What changed while nothing watched is sent now, not at the first periodic check.
        watcher.runFullCheck();
    };
    if (lock.tryLock()) {
        start();
    } else {
        const auto holder = lock.holder();
        std::cout << "Another Quorral process is syncing this home ("
                  << (holder ? sync::describe(*holder).toStdString() : std::string("holder unknown"))
                  << "); this one starts watching when it stops." << std::endl;
        retry.setInterval(std::chrono::seconds(2));
        QObject::connect(&retry, &QTimer::timeout, [&] {
            if (!lock.tryLock())
                return;
            retry.stop();
            start();
        });
        retry.start();
    }
    QCoreApplication::exec();
    context.root.flush();
    return 0;
}

} // namespace quorral::cli
