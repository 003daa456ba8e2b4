#pragma once

#include "api/APIClient.h"
#include "api/Config.h"
#include "api/LoginNotifier.h"
#include "credentials/KeychainHelper.h"
#include "platform/ToolLocations.h"
#include "scan/ScanTracker.h"
#include "settings/DefaultsStore.h"
#include "sync/SyncState.h"
#include "watch/DirectoryWatcher.h"
#include "watch/FileWatcher.h"

#include <functional>
#include <memory>
#include <string>

namespace quorral::services {

// The composition root: the long-lived services of one run, made once and handed to the
// command line, the daemon and the desktop application alike. Lives on the main thread,
// after the Qt application object.
class ServiceRoot {
public:
    // The user's own: the QSettings defaults store and the service named by the environment.
    explicit ServiceRoot(std::string home);
    // `flushDefaults` writes the store's pending changes to disk (empty for stores that need none).
    ServiceRoot(std::string home, api::Config config, std::unique_ptr<settings::DefaultsStore> defaults,
                std::function<void()> flushDefaults = {});
    ~ServiceRoot();
    ServiceRoot(const ServiceRoot &) = delete;
    ServiceRoot &operator=(const ServiceRoot &) = delete;

    const std::string &home() const { return m_home; }
    settings::DefaultsStore &defaults() { return *m_defaults; }
    api::LoginNotifier &notifier() { return m_notifier; }
    api::APIClient &client() { return m_client; }
    scan::ScanTracker &tracker() { return m_tracker; }
    sync::SyncState &syncState() { return m_syncState; }
    platform::ToolLocations toolLocations() const { return platform::ToolLocations::forThisPlatform(m_home); }

    // Makes a fresh watcher and starts it; one running before is stopped first, so two
    // never sync the same tool. The caller must hold the sync lock.
    watch::FileWatcher &startWatcher(watch::DirectoryWatcherOptions options = {});
    // Only makes it (the daemon reports on it before it starts).
    watch::FileWatcher &makeWatcher(watch::DirectoryWatcherOptions options = {});
    watch::FileWatcher *watcher() { return m_watcher.get(); }
    void stopWatcher();

    // Writes the defaults store to disk now.
    void flush();

private:
    std::string m_home;
    std::unique_ptr<settings::DefaultsStore> m_defaults;
    std::function<void()> m_flushDefaults;
    credentials::NoLegacyKeychain m_legacy;
    credentials::KeychainHelper m_keychain;
    api::LoginNotifier m_notifier;
    api::APIClient m_client;
    scan::ScanTracker m_tracker;
    sync::SyncState m_syncState;
    std::unique_ptr<watch::FileWatcher> m_watcher;
};

} // namespace quorral::services
