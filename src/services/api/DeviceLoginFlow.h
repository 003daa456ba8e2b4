#pragma once

#include "api/APIClient.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace quorral::api {

// The two places a login starts from. They run the same flow and differ only in what
// they log and say, and in what a success does.
enum class LoginFrontEnd { trayPanel, registerPage };

// What a front end shows of a running login. Calls arrive on the main thread.
class DeviceLoginView {
public:
    virtual ~DeviceLoginView() = default;
    virtual void setPolling(bool polling) = 0;
    virtual void setErrorText(const QString &text) = 0;
    virtual void setDeviceLoginURL(const std::optional<QUrl> &url) = 0;
    virtual void openInBrowser(const QUrl &url) = 0;
    // The flow has stored the key already for the tray (which then refreshes); the
    // register page hands it on to the wizard.
    virtual void loginSucceeded(const std::string &apiKey) = 0;
};

// The device-code login: ask for a code and a login page, open the page, poll every two
// seconds until the service grants a key, the code expires or the budget runs out.
class DeviceLoginFlow : public QObject {
    Q_OBJECT
public:
    enum class Outcome { success, timeout, error, cancelled };

    static inline const QString timeoutText = QStringLiteral("登录超时，请重试");
    static inline const QString trayErrorText = QStringLiteral("登录失败，请重试");
    static inline const QString registerErrorPrefix = QStringLiteral("登录失败：");

    DeviceLoginFlow(APIClient &client, DeviceLoginView &view, LoginFrontEnd frontEnd,
                    std::chrono::milliseconds pollInterval = std::chrono::seconds(2), QObject *parent = nullptr);

    // signInWithWeb: does nothing while a flow runs.
    void start();
    // cancelDeviceAuth: forgets the flow and resets what the view shows.
    void cancel();
    // Opens the kept login page again, if there is one.
    void reopenLoginPage();

    bool isPolling() const { return m_polling; }
    const std::optional<QUrl> &deviceLoginURL() const { return m_deviceLoginURL; }
    // What made the last run end in an error, for a front end that words it itself.
    std::exception_ptr failure() const { return m_failure; }

    // Where "[Quorral]" lines go (standard output by default).
    std::function<void(const std::string &line)> log;
    // Called after every poll with its index and status (for tests and progress).
    std::function<void(int index, const std::string &status)> onPoll;

Q_SIGNALS:
    void finished(Outcome outcome);

private:
    QCoro::Task<> run(std::uint64_t generation);
    bool isCurrent(std::uint64_t generation) const { return m_generation == generation; }
    void logLine(const std::string &line);
    void finish(Outcome outcome, const QString &errorText = {});

    APIClient &m_client;
    DeviceLoginView &m_view;
    LoginFrontEnd m_frontEnd;
    std::chrono::milliseconds m_pollInterval;
    bool m_polling = false;
    std::optional<QUrl> m_deviceLoginURL;
    std::exception_ptr m_failure;
    // Each start and each cancel bumps it; a flow that sees another value was cancelled.
    std::uint64_t m_generation = 0;
};

} // namespace quorral::api
