#include "tray/TrayPanelViewModel.h"

#include "integrations/RulesFileManager.h"
#include "scan/PlatformScanners.h"
#include "sync/ManualSync.h"
#include "tray/PanelTexts.h"

#include <QPointer>
#include <QUrlQuery>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

namespace quorral::app {

namespace {

std::optional<QString> optionalText(const std::optional<std::string> &text)
{
    return text ? std::optional<QString>(QString::fromStdString(*text)) : std::nullopt;
}

} // namespace

TrayPanelViewModel::TrayPanelViewModel(services::ServiceRoot &services, TrayPanelEnvironment environment,
                                       QObject *parent)
    : QObject(parent),
      m_services(services),
      m_env(std::move(environment)),
      m_login(services.client(), *this, api::LoginFrontEnd::trayPanel, m_env.loginPollInterval)
{
    m_refreshTimer.setInterval(m_env.refreshInterval);
    connect(&m_refreshTimer, &QTimer::timeout, this, &TrayPanelViewModel::refresh);
    m_syncMessageTimer.setSingleShot(true);
    m_syncMessageTimer.setInterval(m_env.syncMessageDuration);
    connect(&m_syncMessageTimer, &QTimer::timeout, this, [this] {
        m_syncResultMessage.reset();
        Q_EMIT changed();
        refresh();
    });
    m_copiedTimer.setSingleShot(true);
    m_copiedTimer.setInterval(m_env.copiedDuration);
    connect(&m_copiedTimer, &QTimer::timeout, this, [this] {
        m_referralCopied = false;
        Q_EMIT changed();
    });
    // Disconnected with this object: the observer ends with the model.
    connect(&m_services.notifier(), &api::LoginNotifier::loginStateChanged, this, &TrayPanelViewModel::refresh);
    m_login.log = [](const std::string &) {};
}

TrayPanelViewModel::~TrayPanelViewModel() = default;

QString TrayPanelViewModel::xpLabel() const
{
    return app::xpLabel({m_xp, m_xpCurrentLevel, m_xpNextLevel, m_isMaxLevel});
}

double TrayPanelViewModel::xpProgress() const
{
    return app::xpProgress({m_xp, m_xpCurrentLevel, m_xpNextLevel, m_isMaxLevel});
}

std::optional<QString> TrayPanelViewModel::todayActivityLabel() const
{
    return app::todayActivityLabel(m_todayRecalls, m_todayIngests);
}

std::optional<QString> TrayPanelViewModel::proExpiryLabel() const
{
    return app::proExpiryLabel(m_plan, m_proExpiresAt, m_env.now());
}

QString TrayPanelViewModel::planLabel() const
{
    return app::planLabel(m_plan);
}

QString TrayPanelViewModel::displayInitial() const
{
    return app::displayInitial(m_displayName);
}

void TrayPanelViewModel::refresh()
{
    const bool valid = m_services.client().hasValidKey();
    if (valid != m_isLoggedIn) {
        m_isLoggedIn = valid;
        Q_EMIT changed();
    }
    if (!valid) {
        Q_EMIT refreshFinished();
        return;
    }
    fetchAccount();
}

QCoro::Task<> TrayPanelViewModel::fetchAccount()
{
    QPointer<TrayPanelViewModel> self(this);
    auto &client = m_services.client();
    try {
        const auto profile = co_await client.getProfile();
        if (!self)
            co_return;
        applyProfile(profile);
    } catch (const std::exception &) {
        // Silent: the panel keeps what it showed.
    }
    if (!self)
        co_return;
    try {
        const auto stats = co_await client.getStats();
        if (!self)
            co_return;
        applyStats(stats);
    } catch (const std::exception &) {
    }
    if (self)
        Q_EMIT refreshFinished();
}

void TrayPanelViewModel::applyProfile(const api::ProfileResponse &profile)
{
    m_displayName = QString::fromStdString(profile.displayName);
    m_plan = QString::fromStdString(profile.plan);
    m_qoId = optionalText(profile.qoId);
    m_avatarURL = optionalText(profile.avatarUrl);
    m_level = profile.level;
    m_levelLabel = app::levelLabel(profile.level, QString::fromStdString(profile.levelLabel));
    m_xp = profile.xp;
    m_xpCurrentLevel = profile.xpCurrentLevel;
    m_xpNextLevel = profile.xpNextLevel;
    m_isMaxLevel = profile.isMaxLevel;
    m_totalMemories = profile.memoryCount;
    m_isPioneer = profile.isPioneer;
    m_proExpiresAt = optionalText(profile.proExpiresAt);
    m_userEmail = optionalText(profile.email);
    if (profile.referralCode)
        m_referralLink = m_services.client().config().serviceOrigin.toString(QUrl::StripTrailingSlash) +
                         QStringLiteral("/?ref=") + QString::fromStdString(*profile.referralCode);
    else
        m_referralLink.reset();
    Q_EMIT changed();
}

void TrayPanelViewModel::applyStats(const api::StatsResponse &stats)
{
    m_savedLabel = app::savedLabel(stats.savedUSD);
    m_lastSyncLabel = relativeTime(m_services.syncState().lastSyncAt(), m_env.now());
    m_todayNewMemories = m_services.syncState().todayNewCount();
    m_todayRecalls = stats.today ? stats.today->recalls : 0;
    m_todayIngests = stats.today ? stats.today->ingests : 0;
    Q_EMIT changed();
}

void TrayPanelViewModel::startAutoRefresh()
{
    m_refreshTimer.start();
}

void TrayPanelViewModel::stopAutoRefresh()
{
    m_refreshTimer.stop();
}

void TrayPanelViewModel::signInWithWeb()
{
    m_login.start();
}

void TrayPanelViewModel::cancelDeviceAuth()
{
    m_login.cancel();
}

void TrayPanelViewModel::reopenLoginPage()
{
    m_login.reopenLoginPage();
}

void TrayPanelViewModel::setPolling(bool polling)
{
    m_isDeviceAuthPolling = polling;
    Q_EMIT changed();
}

void TrayPanelViewModel::setErrorText(const QString &text)
{
    m_loginError = text;
    Q_EMIT changed();
}

void TrayPanelViewModel::setDeviceLoginURL(const std::optional<QUrl> &url)
{
    m_deviceLoginURL = url;
}

void TrayPanelViewModel::openInBrowser(const QUrl &url)
{
    if (m_env.openUrl)
        m_env.openUrl(url);
}

void TrayPanelViewModel::loginSucceeded(const std::string &)
{
    m_isDeviceAuthPolling = false;
    Q_EMIT changed();
    refresh();
}

void TrayPanelViewModel::logout()
{
    m_login.cancel();
    runLogout();
}

QCoro::Task<> TrayPanelViewModel::runLogout()
{
    QPointer<TrayPanelViewModel> self(this);
    m_services.client().clearApiKey();
    // Held in a local: a temporary awaited in place is destroyed twice by GCC 12's coroutines.
    QFuture<void> removal = QtConcurrent::run([home = m_services.home()] { integrations::RulesFileManager::removeAll(home); });
    co_await removal;
    if (!self)
        co_return;
    resetAccount();
    Q_EMIT logoutFinished();
}

void TrayPanelViewModel::resetAccount()
{
    m_isLoggedIn = false;
    m_isDeviceAuthPolling = false;
    m_loginError.clear();
    m_displayName = QStringLiteral("User");
    m_plan = QStringLiteral("free");
    m_qoId.reset();
    m_avatarURL.reset();
    m_level = 1;
    m_levelLabel = QStringLiteral("陌生人");
    m_xp = 0;
    m_xpCurrentLevel = 0;
    m_xpNextLevel = 10;
    m_isMaxLevel = false;
    m_totalMemories = 0;
    m_todayRecalls = 0;
    m_todayIngests = 0;
    m_isPioneer = false;
    m_proExpiresAt.reset();
    m_userEmail.reset();
    m_referralLink.reset();
    Q_EMIT changed();
}

void TrayPanelViewModel::syncLocalMemories()
{
    if (m_isSyncing)
        return;
    m_isSyncing = true;
    m_syncProgress.clear();
    m_syncResultMessage.reset();
    m_syncMessageTimer.stop();
    Q_EMIT changed();
    runSync();
}

QCoro::Task<> TrayPanelViewModel::runSync()
{
    QPointer<TrayPanelViewModel> self(this);
    QString message;
    if (!m_env.maySync()) {
        // Another process (a running `quorral daemon`) owns the tracker; it syncs already.
        message = QStringLiteral("后台同步进程正在运行，已自动同步");
    } else {
        auto &tracker = m_services.tracker();
        auto scanners = sync::manualSyncScanners(scan::makeAllScanners(m_services.toolLocations(), tracker));
        std::function<void(const std::string &)> progress = [self](const std::string &name) {
            if (!self)
                return;
            self->m_syncProgress = QString::fromStdString(name);
            Q_EMIT self->changed();
        };
        auto pass = sync::syncLocalMemories(std::move(scanners), tracker, m_services.client(), m_services.syncState(),
                                            std::move(progress));
        const auto result = co_await std::move(pass);
        if (!self)
            co_return;
        m_services.flush();
        message = result.message;
    }
    m_isSyncing = false;
    m_syncProgress.clear();
    m_syncResultMessage = message;
    m_todayNewMemories = m_services.syncState().todayNewCount();
    m_lastSyncLabel = QStringLiteral("刚刚");
    Q_EMIT changed();
    m_syncMessageTimer.start();
    Q_EMIT syncFinished();
}

void TrayPanelViewModel::copyReferralLink()
{
    if (!m_referralLink)
        return;
    if (m_env.copyText)
        m_env.copyText(*m_referralLink);
    m_referralCopied = true;
    Q_EMIT changed();
    m_copiedTimer.start();
}

void TrayPanelViewModel::openDashboard()
{
    openMagicLink(std::nullopt, m_services.client().config().dashboardURL());
}

void TrayPanelViewModel::openSettings()
{
    openMagicLink(QStringLiteral("/settings"), m_services.client().config().settingsURL());
}

QCoro::Task<> TrayPanelViewModel::openMagicLink(std::optional<QString> redirect, QUrl fallback)
{
    QPointer<TrayPanelViewModel> self(this);
    QUrl target = fallback;
    try {
        QUrl magic = co_await m_services.client().getMagicLoginURL();
        if (redirect) {
            QUrlQuery query(magic);
            query.addQueryItem(QStringLiteral("redirect"), *redirect);
            magic.setQuery(query);
        }
        if (magic.isValid())
            target = magic;
    } catch (const std::exception &) {
    }
    if (self && m_env.openUrl)
        m_env.openUrl(target);
}

} // namespace quorral::app
