#include "api/DeviceLoginFlow.h"

#include "credentials/KeychainHelper.h"

#include <qcoro/qcorotimer.h>

#include <iostream>

namespace quorral::api {

DeviceLoginFlow::DeviceLoginFlow(APIClient &client, DeviceLoginView &view, LoginFrontEnd frontEnd,
                                 std::chrono::milliseconds pollInterval, QObject *parent)
    : QObject(parent), m_client(client), m_view(view), m_frontEnd(frontEnd), m_pollInterval(pollInterval)
{
    log = [](const std::string &line) { std::cout << line << std::endl; };
}

void DeviceLoginFlow::logLine(const std::string &line)
{
    if (m_frontEnd == LoginFrontEnd::registerPage && log)
        log("[Quorral] " + line);
}

void DeviceLoginFlow::start()
{
    if (m_polling)
        return;
    m_polling = true;
    m_view.setPolling(true);
    m_view.setErrorText(QString());
    // The task runs detached; it checks its generation after every suspension.
    run(++m_generation);
}

void DeviceLoginFlow::cancel()
{
    ++m_generation;
    m_deviceLoginURL.reset();
    m_view.setDeviceLoginURL(std::nullopt);
    m_polling = false;
    m_view.setPolling(false);
    m_view.setErrorText(QString());
}

void DeviceLoginFlow::reopenLoginPage()
{
    if (m_deviceLoginURL)
        m_view.openInBrowser(*m_deviceLoginURL);
}

void DeviceLoginFlow::finish(Outcome outcome, const QString &errorText)
{
    if (outcome != Outcome::cancelled && outcome != Outcome::success) {
        m_polling = false;
        m_view.setPolling(false);
        m_view.setErrorText(errorText);
    }
    Q_EMIT finished(outcome);
}

QCoro::Task<> DeviceLoginFlow::run(std::uint64_t generation)
{
    // The flow may be destroyed while suspended: check the guard before touching members.
    QPointer<DeviceLoginFlow> self(this);
    logLine("Starting device login...");

    std::optional<DeviceLoginResponse> login;
    std::string failure;
    std::exception_ptr failed; // kept on the frame: the flow may be gone when it is caught
    try {
        login = co_await m_client.startDeviceLogin();
    } catch (const std::exception &error) {
        failure = error.what();
        failed = std::current_exception();
    }
    if (!self || !isCurrent(generation)) {
        if (self)
            Q_EMIT finished(Outcome::cancelled);
        co_return;
    }
    if (!login) {
        logLine("Device login error: " + failure);
        m_failure = failed;
        finish(Outcome::error, m_frontEnd == LoginFrontEnd::trayPanel ? trayErrorText
                                                                      : registerErrorPrefix + QString::fromStdString(failure));
        co_return;
    }

    logLine("Device code: " + login->deviceCode + ", URL: " + login->loginUrl);
    const QUrl url(QString::fromStdString(login->loginUrl), QUrl::StrictMode);
    if (url.isValid() && !url.isRelative()) {
        m_deviceLoginURL = url;
        m_view.setDeviceLoginURL(url);
        m_view.openInBrowser(url);
    }

    const std::int64_t pollLimit = login->expiresIn / 2;
    const std::string deviceCode = login->deviceCode;
    std::optional<std::string> grantedKey;
    bool expired = false;
    for (std::int64_t index = 0; index < pollLimit && !grantedKey && !expired && failure.empty(); ++index) {
        co_await QCoro::sleepFor(m_pollInterval);
        if (!self || !isCurrent(generation))
            break;
        std::optional<DeviceVerifyResponse> verify;
        try {
            verify = co_await m_client.pollDeviceAuth(deviceCode);
        } catch (const std::exception &error) {
            failure = error.what();
            failed = std::current_exception();
        }
        if (!self || !isCurrent(generation))
            break;
        if (verify) {
            if (index < 3 || index % 10 == 0)
                logLine("Poll #" + std::to_string(index) + ": status=" + verify->status);
            if (onPoll)
                onPoll(static_cast<int>(index), verify->status);
            if (verify->status == "granted" && verify->apiKey)
                grantedKey = verify->apiKey;
            else if (verify->status == "expired")
                expired = true;
        }
    }

    if (!self)
        co_return;
    if (!isCurrent(generation)) {
        Q_EMIT finished(Outcome::cancelled);
        co_return;
    }
    if (grantedKey) {
        if (m_frontEnd == LoginFrontEnd::trayPanel)
            m_client.setApiKey(*grantedKey);
        else
            logLine("Login granted! Key prefix: " + credentials::keyPrefixForLog(*grantedKey) + "...");
        m_polling = false;
        m_view.setPolling(false);
        m_view.loginSucceeded(*grantedKey);
        finish(Outcome::success);
        co_return;
    }
    if (!failure.empty()) {
        logLine("Device login error: " + failure);
        m_failure = failed;
        finish(Outcome::error, m_frontEnd == LoginFrontEnd::trayPanel ? trayErrorText
                                                                      : registerErrorPrefix + QString::fromStdString(failure));
        co_return;
    }
    if (expired)
        logLine("Device session expired");
    finish(Outcome::timeout, timeoutText);
}

} // namespace quorral::api
