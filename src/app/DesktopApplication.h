#pragma once

#include "root/ServiceRoot.h"
#include "sync/SyncLock.h"
#include "tray/TrayController.h"

#include <QObject>
#include <QTimer>

#include <memory>

namespace quorral::app {

// The application delegate: puts up the tray, installs the browser host manifests,
// starts the background sync once a valid key is there (again after each login), opens
// the setup wizard while onboarding is incomplete, and stops the sync at quit.
class DesktopApplication : public QObject {
    Q_OBJECT
public:
    static constexpr const char *onboardingCompletedKey = "onboardingCompleted";

    DesktopApplication(services::ServiceRoot &services, TrayPanelEnvironment environment, QObject *parent = nullptr);
    ~DesktopApplication() override;

    void launch();
    void shutdown();

    TrayController &tray() { return *m_tray; }
    bool holdsSyncLock() const { return m_syncLock.isLocked(); }

Q_SIGNALS:
    // After the key check of the launch or of a login: whether a watcher runs now.
    void watcherChecked(bool running);
    void quitRequested();

private:
    void checkKeyThenWatch(bool refreshRules);
    void startWatcher();

    services::ServiceRoot &m_services;
    std::unique_ptr<TrayController> m_tray;
    sync::SyncLock m_syncLock;
    // While a `quorral daemon` holds the sync lock, it syncs and this one waits its turn.
    QTimer m_lockRetry;
    bool m_wantsWatcher = false;
};

} // namespace quorral::app
