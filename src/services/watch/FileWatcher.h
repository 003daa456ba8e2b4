#pragma once

#include "api/APIClient.h"
#include "platform/ToolLocations.h"
#include "scan/ScanTracker.h"
#include "sync/SyncState.h"
#include "sync/UnsentFiles.h"
#include "sync/WatchTarget.h"
#include "watch/DirectoryWatcher.h"

#include <QObject>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace quorral::watch {

struct FileWatcherIntervals {
    std::chrono::milliseconds debounce{2000};
    std::chrono::milliseconds fullCheck{1800 * 1000};
    std::chrono::milliseconds settingsLifetime{300 * 1000};
};

// How one background sync ended, for the log.
struct SyncReport {
    enum class Outcome { uploaded, nothingNew, incognitoGlobal, incognitoSource, notSignedIn, uploadFailed };
    std::string scanner;
    Outcome outcome = Outcome::nothingNew;
    std::size_t files = 0;
    std::size_t accepted = 0;
    std::size_t refused = 0;
    std::int64_t newMemories = 0;
    std::vector<std::string> sent;       // the files it sent
    std::vector<sync::UnsentFile> unsent; // those not accepted, with what became of them
};
std::string describe(const SyncReport &report);

// Keeps the memory service up to date: watches the tools' directories, waits for a burst
// of changes to settle, scans that tool and uploads what is new; every half hour it does
// so for every tool regardless. Lives on the main thread; scans run on the thread pool.
class FileWatcher : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    FileWatcher(platform::ToolLocations locations, api::APIClient &client, scan::ScanTracker &tracker,
                sync::SyncState &state, std::unique_ptr<DirectoryWatcher> directories, FileWatcherIntervals intervals = {},
                Clock clock = [] { return std::chrono::steady_clock::now(); }, QObject *parent = nullptr);
    ~FileWatcher() override;

    void startWatching();
    void stopAll();

    const std::vector<sync::WatchTarget> &targets() const { return m_targets; }
    bool isWatched(int target) const { return m_watched.contains(target); }
    bool incognitoGlobal() const { return m_incognitoGlobal; }
    const std::set<std::string> &incognitoSources() const { return m_incognitoSources; }
    DirectoryWatcher &directories() { return *m_directories; }

    // Syncs every tool now, as the periodic check does: what changed while nothing watched.
    void runFullCheck();

    // The settings, fetched at most once per cache lifetime; a failed fetch keeps the old.
    QCoro::Task<> refreshIncognitoSettings();

Q_SIGNALS:
    void syncFinished(const quorral::watch::SyncReport &report);

private:
    void handleFileChange(int target);
    QCoro::Task<> syncPlatform(sync::WatchTarget target);
    QCoro::Task<> syncPlatformOnce(sync::WatchTarget target);

    platform::ToolLocations m_locations;
    api::APIClient &m_client;
    scan::ScanTracker &m_tracker;
    sync::SyncState &m_state;
    std::unique_ptr<DirectoryWatcher> m_directories;
    FileWatcherIntervals m_intervals;
    Clock m_clock;
    std::vector<sync::WatchTarget> m_targets;
    std::set<int> m_watched;
    std::map<std::string, std::unique_ptr<QTimer>> m_pendingSync;
    std::set<std::string> m_syncing;   // tools whose sync is running
    std::set<std::string> m_syncAgain; // tools to sync once more when it ends
    std::unique_ptr<QTimer> m_periodicTimer;
    bool m_incognitoGlobal = false;
    std::set<std::string> m_incognitoSources;
    std::optional<std::chrono::steady_clock::time_point> m_settingsLastFetched;
};

} // namespace quorral::watch

Q_DECLARE_METATYPE(quorral::watch::SyncReport)
