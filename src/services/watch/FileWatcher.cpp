#include "watch/FileWatcher.h"

#include "scan/PendingClaims.h"
#include "scan/PlatformScanners.h"
#include "scan/SkippedFilesLog.h"
#include "sync/ScannedUpload.h"
#include "sync/SettingsCache.h"

#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <filesystem>

namespace quorral::watch {

std::string describe(const SyncReport &r)
{
    switch (r.outcome) {
    case SyncReport::Outcome::uploaded:
        return r.scanner + ": uploaded " + std::to_string(r.accepted) + " of " + std::to_string(r.files) + " files, "
            + std::to_string(r.newMemories) + " new memories"
            + (r.refused ? ", " + std::to_string(r.refused) + " refused as too large" : std::string());
    case SyncReport::Outcome::nothingNew:
        return r.scanner + ": nothing new";
    case SyncReport::Outcome::incognitoGlobal:
        return r.scanner + ": skipped, incognito is on for everything";
    case SyncReport::Outcome::incognitoSource:
        return r.scanner + ": skipped, incognito is on for this tool";
    case SyncReport::Outcome::notSignedIn:
        return r.scanner + ": skipped, not signed in";
    case SyncReport::Outcome::uploadFailed:
        return r.scanner + ": " + std::to_string(r.files) + " files not uploaded (service unreachable or refused them)";
    }
    return r.scanner;
}

FileWatcher::FileWatcher(platform::ToolLocations locations, api::APIClient &client, scan::ScanTracker &tracker,
                         sync::SyncState &state, std::unique_ptr<DirectoryWatcher> directories,
                         FileWatcherIntervals intervals, Clock clock, QObject *parent)
    : QObject(parent), m_locations(std::move(locations)), m_client(client), m_tracker(tracker), m_state(state),
      m_directories(std::move(directories)), m_intervals(intervals), m_clock(std::move(clock)),
      m_targets(sync::watchPaths(m_locations))
{
    qRegisterMetaType<SyncReport>();
    connect(m_directories.get(), &DirectoryWatcher::changed, this, &FileWatcher::handleFileChange);
    connect(m_directories.get(), &DirectoryWatcher::overflowed, this, [this] {
        for (int i = 0; i < static_cast<int>(m_targets.size()); ++i)
            handleFileChange(i);
    });
}

FileWatcher::~FileWatcher()
{
    stopAll();
}

void FileWatcher::startWatching()
{
    refreshIncognitoSettings();
    for (int i = 0; i < static_cast<int>(m_targets.size()); ++i) {
        // A directory missing now is waited for, and watched once it appears.
        if (m_directories->watch(QString::fromStdString(m_targets[i].path), i))
            m_watched.insert(i);
    }
    m_periodicTimer = std::make_unique<QTimer>(this);
    m_periodicTimer->setTimerType(Qt::PreciseTimer);
    m_periodicTimer->setInterval(m_intervals.fullCheck);
    connect(m_periodicTimer.get(), &QTimer::timeout, this, &FileWatcher::runFullCheck);
    m_periodicTimer->start();
}

void FileWatcher::stopAll()
{
    m_directories->stopAll();
    m_watched.clear();
    m_periodicTimer.reset();
    // Pending debounced syncs are timers owned by this object: they still run while it
    // lives, and go with it.
}

void FileWatcher::handleFileChange(int target)
{
    if (target < 0 || target >= static_cast<int>(m_targets.size()))
        return;
    const sync::WatchTarget watchTarget = m_targets[static_cast<std::size_t>(target)];
    auto &timer = m_pendingSync[watchTarget.scanner];
    if (!timer) {
        timer = std::make_unique<QTimer>(this);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    // Restarting replaces the pending sync: a burst leads to one sync after its last event.
    timer->disconnect();
    connect(timer.get(), &QTimer::timeout, this, [this, watchTarget] { syncPlatform(watchTarget); });
    timer->start(m_intervals.debounce);
}

void FileWatcher::runFullCheck()
{
    std::set<std::string> started;
    for (const auto &target : m_targets) {
        if (started.insert(target.scanner).second)
            syncPlatform(target);
    }
}

QCoro::Task<> FileWatcher::refreshIncognitoSettings()
{
    if (m_settingsLastFetched && m_clock() - *m_settingsLastFetched < m_intervals.settingsLifetime)
        co_return;
    QPointer<FileWatcher> self(this);
    std::optional<api::SettingsResponse> settings;
    try {
        settings = co_await m_client.getSettings();
    } catch (const std::exception &) {
        // Keep the last known settings; the next sync asks again.
    }
    if (!self || !settings)
        co_return;
    m_incognitoGlobal = settings->incognitoGlobal.value_or(false);
    m_incognitoSources.clear();
    for (const auto &source : settings->incognitoSources.value_or(std::vector<std::string>{}))
        m_incognitoSources.insert(source);
    m_settingsLastFetched = m_clock();
    sync::writeSettingsCache(m_locations.home, m_incognitoGlobal,
                             std::vector<std::string>(m_incognitoSources.begin(), m_incognitoSources.end()));
}

QCoro::Task<> FileWatcher::syncPlatform(sync::WatchTarget target)
{
    // One sync per tool at a time: a change seen meanwhile runs one more after it, so a
    // file held by the running sync and then given back is not left for the next change.
    if (!m_syncing.insert(target.scanner).second) {
        m_syncAgain.insert(target.scanner);
        co_return;
    }
    QPointer<FileWatcher> self(this);
    co_await syncPlatformOnce(target);
    if (!self)
        co_return;
    m_syncing.erase(target.scanner);
    if (m_syncAgain.erase(target.scanner))
        syncPlatform(target);
}

QCoro::Task<> FileWatcher::syncPlatformOnce(sync::WatchTarget target)
{
    QPointer<FileWatcher> self(this);
    SyncReport report;
    report.scanner = target.scanner;
    co_await refreshIncognitoSettings();
    if (!self)
        co_return;
    if (m_incognitoGlobal || m_incognitoSources.contains(target.scanner)) {
        report.outcome = m_incognitoGlobal ? SyncReport::Outcome::incognitoGlobal : SyncReport::Outcome::incognitoSource;
        Q_EMIT syncFinished(report);
        co_return;
    }
    // Scanning while signed out would mark the files as seen and they would never be sent.
    if (!m_client.hasValidKey()) {
        report.outcome = SyncReport::Outcome::notSignedIn;
        Q_EMIT syncFinished(report);
        co_return;
    }
    std::shared_ptr<scan::PlatformScanner> scanner = scan::makeWatchedScanner(target.scanner, m_locations, m_tracker);
    QFuture<std::vector<scan::ScannedFile>> scanning = QtConcurrent::run([scanner] { return scanner->scan(); });
    std::vector<scan::ScannedFile> files = co_await scanning;
    scan::logSkippedFiles(m_tracker);
    // Held from here: a file is recorded only once its upload is settled.
    scan::PendingClaims claims(m_tracker, files);
    if (!self)
        co_return;
    if (files.empty()) {
        Q_EMIT syncFinished(report);
        co_return;
    }
    report.files = files.size();
    std::string source = target.scanner;
    QCoro::Task<sync::ScannedUpload> uploading =
        sync::uploadScanned(m_client, std::move(files), std::move(claims), std::move(source));
    sync::ScannedUpload upload = co_await uploading;
    if (!self)
        co_return;
    report.accepted = upload.accepted;
    report.refused = upload.refused;
    report.sent = std::move(upload.sent);
    report.unsent = std::move(upload.unsent);
    if (report.accepted >= 1) {
        report.newMemories = upload.newMemories;
        m_state.recordSync(report.newMemories);
        report.outcome = SyncReport::Outcome::uploaded;
    } else {
        report.outcome = SyncReport::Outcome::uploadFailed;
    }
    Q_EMIT syncFinished(report);
}

} // namespace quorral::watch
