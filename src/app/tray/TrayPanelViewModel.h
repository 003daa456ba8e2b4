#pragma once

#include "api/DeviceLoginFlow.h"
#include "root/ServiceRoot.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <optional>

namespace quorral::app {

// What the panel model reaches outside the process through, replaced in tests.
struct TrayPanelEnvironment {
    std::function<void(const QUrl &)> openUrl;
    std::function<void(const QString &)> copyText;
    std::function<std::chrono::system_clock::time_point()> now = [] { return std::chrono::system_clock::now(); };
    // Whether this process may run a manual sync now (it must hold the sync lock).
    std::function<bool()> maySync = [] { return true; };
    std::chrono::milliseconds refreshInterval{60'000};
    std::chrono::milliseconds syncMessageDuration{5'000};
    std::chrono::milliseconds copiedDuration{2'000};
    std::chrono::milliseconds loginPollInterval{2'000};
};

// Everything the tray panel shows, and its actions. Main thread only; every property
// change emits `changed` and the view redraws from the getters.
class TrayPanelViewModel : public QObject, private api::DeviceLoginView {
    Q_OBJECT
    Q_PROPERTY(bool isLoggedIn READ isLoggedIn NOTIFY changed)
    Q_PROPERTY(qint64 totalMemories READ totalMemories NOTIFY changed)
    Q_PROPERTY(qint64 todayNewMemories READ todayNewMemories NOTIFY changed)
    Q_PROPERTY(QString lastSyncLabel READ lastSyncLabel NOTIFY changed)
    Q_PROPERTY(QString savedLabel READ savedLabel NOTIFY changed)
    Q_PROPERTY(QString displayName READ displayName NOTIFY changed)
    Q_PROPERTY(QString levelLabel READ levelLabel NOTIFY changed)
    Q_PROPERTY(bool isSyncing READ isSyncing NOTIFY changed)
    Q_PROPERTY(bool isDeviceAuthPolling READ isDeviceAuthPolling NOTIFY changed)

public:
    TrayPanelViewModel(services::ServiceRoot &services, TrayPanelEnvironment environment, QObject *parent = nullptr);
    ~TrayPanelViewModel() override;

    qint64 totalMemories() const { return m_totalMemories; }
    qint64 todayNewMemories() const { return m_todayNewMemories; }
    const QString &lastSyncLabel() const { return m_lastSyncLabel; }
    const QString &savedLabel() const { return m_savedLabel; }
    bool isPioneer() const { return m_isPioneer; }
    const std::optional<QString> &referralLink() const { return m_referralLink; }
    bool referralCopied() const { return m_referralCopied; }
    const std::optional<QString> &userEmail() const { return m_userEmail; }
    bool isLoggedIn() const { return m_isLoggedIn; }
    bool isDeviceAuthPolling() const { return m_isDeviceAuthPolling; }
    const QString &loginError() const { return m_loginError; }
    qint64 todayRecalls() const { return m_todayRecalls; }
    qint64 todayIngests() const { return m_todayIngests; }
    bool isSyncing() const { return m_isSyncing; }
    const QString &syncProgress() const { return m_syncProgress; }
    const std::optional<QString> &syncResultMessage() const { return m_syncResultMessage; }
    const QString &displayName() const { return m_displayName; }
    const QString &plan() const { return m_plan; }
    const std::optional<QString> &qoId() const { return m_qoId; }
    const std::optional<QString> &avatarURL() const { return m_avatarURL; }
    qint64 level() const { return m_level; }
    const QString &levelLabel() const { return m_levelLabel; }
    qint64 xp() const { return m_xp; }
    qint64 xpCurrentLevel() const { return m_xpCurrentLevel; }
    std::optional<qint64> xpNextLevel() const { return m_xpNextLevel; }
    bool isMaxLevel() const { return m_isMaxLevel; }
    const std::optional<QString> &proExpiresAt() const { return m_proExpiresAt; }

    QString xpLabel() const;
    double xpProgress() const;
    std::optional<QString> todayActivityLabel() const;
    std::optional<QString> proExpiryLabel() const;
    QString planLabel() const;
    QString displayInitial() const;
    bool isAutoRefreshing() const { return m_refreshTimer.isActive(); }

public Q_SLOTS:
    void refresh();
    void startAutoRefresh();
    void stopAutoRefresh();
    void signInWithWeb();
    void cancelDeviceAuth();
    void reopenLoginPage();
    void logout();
    void syncLocalMemories();
    void copyReferralLink();
    void openDashboard();
    void openSettings();
    void requestQuickInput() { Q_EMIT quickInputRequested(); }
    void requestQuit() { Q_EMIT quitRequested(); }

Q_SIGNALS:
    void changed();
    // Ends of the asynchronous actions, for whoever waits on them (tests, the view).
    void refreshFinished();
    void logoutFinished();
    void syncFinished();
    void quickInputRequested();
    void quitRequested();

private:
    void setPolling(bool polling) override;
    void setErrorText(const QString &text) override;
    void setDeviceLoginURL(const std::optional<QUrl> &url) override;
    void openInBrowser(const QUrl &url) override;
    void loginSucceeded(const std::string &apiKey) override;

    QCoro::Task<> fetchAccount();
    QCoro::Task<> runLogout();
    QCoro::Task<> runSync();
    QCoro::Task<> openMagicLink(std::optional<QString> redirect, QUrl fallback);
    void applyProfile(const api::ProfileResponse &profile);
    void applyStats(const api::StatsResponse &stats);
    void resetAccount();

    services::ServiceRoot &m_services;
    TrayPanelEnvironment m_env;
    api::DeviceLoginFlow m_login;
    QTimer m_refreshTimer;
    QTimer m_syncMessageTimer;
    QTimer m_copiedTimer;

    qint64 m_totalMemories = 0;
    qint64 m_todayNewMemories = 0;
    QString m_lastSyncLabel = QStringLiteral("—");
    QString m_savedLabel = QStringLiteral("$0.00");
    bool m_isPioneer = false;
    std::optional<QString> m_referralLink;
    bool m_referralCopied = false;
    std::optional<QString> m_userEmail;
    bool m_isLoggedIn = false;
    bool m_isDeviceAuthPolling = false;
    QString m_loginError;
    qint64 m_todayRecalls = 0;
    qint64 m_todayIngests = 0;
    bool m_isSyncing = false;
    QString m_syncProgress;
    std::optional<QString> m_syncResultMessage;
    QString m_displayName = QStringLiteral("User");
    QString m_plan = QStringLiteral("free");
    std::optional<QString> m_qoId;
    std::optional<QString> m_avatarURL;
    qint64 m_level = 1;
    QString m_levelLabel = QStringLiteral("陌生人");
    qint64 m_xp = 0;
    qint64 m_xpCurrentLevel = 0;
    std::optional<qint64> m_xpNextLevel = 10;
    bool m_isMaxLevel = false;
    std::optional<QString> m_proExpiresAt;
    std::optional<QUrl> m_deviceLoginURL;
};

} // namespace quorral::app
