#include "DesktopApplication.h"

#include "integrations/NativeMessagingConfigurator.h"
#include "integrations/RulesFileManager.h"
#include "platform/BrowserLocations.h"

#include <QLoggingCategory>
#include <nlohmann/json.hpp>
#include <QPointer>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

namespace {
Q_LOGGING_CATEGORY(lcApp, "quorral.app")
} // namespace

namespace quorral::app {

DesktopApplication::DesktopApplication(services::ServiceRoot &services, TrayPanelEnvironment environment,
                                       QObject *parent)
    : QObject(parent), m_services(services), m_syncLock(services.home())
{
    // A manual sync from the panel needs the lock as much as the watcher does.
    environment.maySync = [this] { return m_syncLock.tryLock(); };
    m_tray = std::make_unique<TrayController>(services, std::move(environment));
    connect(m_tray.get(), &TrayController::quitRequested, this, &DesktopApplication::quitRequested);
    m_lockRetry.setInterval(std::chrono::seconds(5));
    connect(&m_lockRetry, &QTimer::timeout, this, [this] {
        if (!m_syncLock.tryLock())
            return;
        m_lockRetry.stop();
        qCInfo(lcApp) << "the other syncing process stopped; this one watches now";
        startWatcher();
    });
}

DesktopApplication::~DesktopApplication()
{
    shutdown();
}

void DesktopApplication::launch()
{
    // The tray is up (constructed above). Then the browsers' host manifests, pointing at
    // the executable the user runs.
    integrations::NativeMessagingConfigurator::configureAll(
        platform::browserHostLocationsForThisPlatform(m_services.home()),
        integrations::NativeMessagingConfigurator::productExtensionID, platform::executablePath());

    checkKeyThenWatch(true);
    connect(&m_services.notifier(), &api::LoginNotifier::loginStateChanged, this, [this] { checkKeyThenWatch(false); });

    const auto completed = m_services.defaults().value(onboardingCompletedKey);
    if (!(completed && completed->is_boolean() && completed->get<bool>())) {
        // The setup wizard opens here once it exists; until then the tray panel's login
        // card is the way in.
        qCInfo(lcApp) << "onboarding is not completed; the setup wizard is not part of this build yet";
    }
}

void DesktopApplication::checkKeyThenWatch(bool refreshRules)
{
    QPointer<DesktopApplication> self(this);
    auto &client = m_services.client();
    const std::string home = m_services.home();
    // The key check reads the credentials file and the rules refresh edits other tools'
    // files: both off the main thread. The watcher is made back on it.
    auto future = QtConcurrent::run([&client, home, refreshRules] {
        const bool valid = client.hasValidKey();
        if (valid && refreshRules)
            integrations::RulesFileManager::syncAll(home);
        return valid;
    });
    auto *watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcher<bool>::finished, this, [this, watcher] {
        watcher->deleteLater();
        if (!watcher->result()) {
            Q_EMIT watcherChecked(m_services.watcher() != nullptr);
            return;
        }
        m_wantsWatcher = true;
        if (m_syncLock.tryLock()) {
            startWatcher();
        } else {
            const auto holder = m_syncLock.holder();
            qCInfo(lcApp).noquote().nospace() << "another Quorral process syncs this home ("
                                    << (holder ? sync::describe(*holder) : QStringLiteral("holder unknown"))
                                    << "); this one watches when it stops";
            m_lockRetry.start();
        }
        Q_EMIT watcherChecked(m_services.watcher() != nullptr);
    });
    watcher->setFuture(future);
}

void DesktopApplication::startWatcher()
{
    // Each valid login gets a fresh watcher; the one it replaces is stopped first.
    auto &watcher = m_services.startWatcher();
    m_services.tracker().pruneMissing();
    watcher.runFullCheck();
    qCInfo(lcApp) << "watching the AI tools' logs for new conversations";
}

void DesktopApplication::shutdown()
{
    m_lockRetry.stop();
    if (m_services.watcher()) {
        m_services.stopWatcher();
        qCInfo(lcApp) << "stopped watching; quitting";
    }
    m_services.flush();
}

} // namespace quorral::app
