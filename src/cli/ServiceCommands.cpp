#include "cli/ServiceCommands.h"

#include "api/APIClient.h"
#include "api/DeviceLoginFlow.h"
#include "async/WaitFor.h"
#include "async/SignalPipe.h"
#include "cli/Usage.h"
#include "credentials/KeychainHelper.h"
#include "integrations/RulesFileManager.h"
#include "platform/ToolLocations.h"
#include "scan/PlatformScanners.h"
#include "root/ServiceRoot.h"
#include "sync/ManualSync.h"
#include "sync/SyncLock.h"
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

bool hasDesktop()
{
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char *value = std::getenv(name);
        if (value != nullptr && value[0] != '\0')
            return true;
    }
    return false;
}

// The terminal as a login front end: prints the page and opens it when a desktop is there.
class TerminalLoginView final : public api::DeviceLoginView {
public:
    void setPolling(bool) override {}
    void setErrorText(const QString &text) override
    {
        if (!text.isEmpty())
            std::cerr << "quorral: " << quorral::text::escapeForTerminal(text.toStdString()) << "\n";
    }
    void setDeviceLoginURL(const std::optional<QUrl> &) override {}
    void openInBrowser(const QUrl &url) override
    {
        std::cout << "Open this page to sign in: " << url.toString().toStdString() << std::endl;
        if (hasDesktop())
            QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString()});
        std::cout << "Waiting for the sign-in to finish (Ctrl-C cancels)…" << std::endl;
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

} // namespace

int runLogin(const std::vector<std::string> &args, const std::string &home)
{
    if (!args.empty())
        return usageError("login takes no arguments");
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
            status = 1;
            break;
        case api::DeviceLoginFlow::Outcome::error:
            std::cerr << "quorral: could not reach the memory service at " << serviceName(context.client) << "\n";
            status = 1;
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
        return usageError("logout takes no arguments");
    ServiceContext context(home);
    context.client.clearApiKey();
    integrations::RulesFileManager::removeAll(home);
    std::cout << "Signed out." << std::endl;
    return 0;
}

int runStatus(const std::vector<std::string> &args, const std::string &home)
{
    if (!args.empty())
        return usageError("status takes no arguments");
    ServiceContext context(home);
    if (!context.client.hasValidKey()) {
        std::cout << "Not signed in. Run `quorral login` to sign in to " << serviceName(context.client) << "." << std::endl;
        return 1;
    }
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
        std::cout << text::escapeForTerminal(out.view()) << std::flush;
    } catch (const std::exception &error) {
        return failure(std::string("cannot read the account from ") + serviceName(context.client) + ": " + error.what());
    }
    return 0;
}

int runRemember(const std::vector<std::string> &args, const std::string &home)
{
    std::string text;
    for (const auto &arg : args)
        text += (text.empty() ? "" : " ") + arg;
    if (text.find_first_not_of(" \t\n") == std::string::npos)
        return usageError("remember needs the TEXT to remember");
    ServiceContext context(home);
    if (!context.client.hasValidKey())
        return failure("not signed in; run `quorral login` first");
    try {
        async::waitFor(context.client.saveMemory(text));
    } catch (const std::exception &error) {
        return failure(std::string("the memory was not saved: ") + error.what());
    }
    std::cout << "Remembered." << std::endl;
    return 0;
}

int runSync(const std::vector<std::string> &args, const std::string &home)
{
    if (!args.empty())
        return usageError("sync takes no arguments");
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
    const auto result = async::waitFor(sync::syncLocalMemories(std::move(scanners), tracker, context.client,
                                                               context.root.syncState(),
                                                               [](const std::string &name) {
                                                                   std::cout << "Scanning " << name << "…" << std::endl;
                                                               }));
    context.root.flush();
    std::cout << text::escapeForTerminal(result.message.toStdString()) << std::endl;
    if (result.filesUploaded < result.filesFound) {
        std::cerr << "quorral: " << result.filesFound - result.filesUploaded << " of " << result.filesFound
                  << " files were not accepted by " << serviceName(context.client)
                  << "; they are sent again by the next sync\n";
        return 1;
    }
    return 0;
}

int runDaemon(const std::vector<std::string> &args, const std::string &home)
{
    watch::DirectoryWatcherOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--max-watches" && i + 1 < args.size()) {
            try {
                options.maxWatches = std::stoi(args[++i]);
            } catch (const std::exception &) {
                return usageError("--max-watches needs a number");
            }
        } else {
            return usageError("unknown option '" + args[i] + "' for daemon");
        }
    }
    ServiceContext context(home);
    auto &tracker = context.root.tracker();
    auto &watcher = context.root.makeWatcher(options);
    QObject::connect(&watcher, &watch::FileWatcher::syncFinished, [&context](const watch::SyncReport &report) {
        context.root.flush();
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
