#include "api/APIClient.h"

#include "text/Unicode.h"

#include <QLoggingCategory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <qcoro/qcoronetworkreply.h>

#include <algorithm>
#include <nlohmann/json.hpp>

namespace quorral::api {

APIClient::APIClient(Config config, const credentials::KeychainHelper &keychain, settings::DefaultsStore &defaults,
                     LoginNotifier &notifier, RequestTimeouts timeouts, QObject *parent)
    : QObject(parent), m_config(std::move(config)), m_keychain(keychain), m_notifier(notifier), m_timeouts(timeouts)
{
    m_apiKey = m_keychain.load();
    // One-time move of a key an older version kept in the defaults store.
    if (!m_keychain.load()) {
        if (auto legacy = defaults.value(legacyDefaultsKey); legacy && legacy->is_string()) {
            const auto key = legacy->get<std::string>();
            try {
                m_keychain.save(key);
            } catch (const credentials::CredentialsError &) {
            }
            m_apiKey = key;
            defaults.remove(legacyDefaultsKey);
        }
    }
}

bool APIClient::hasValidKey() const
{
    return credentials::isValidApiKey(m_keychain.load());
}

void APIClient::setApiKey(const std::string &key)
{
    m_apiKey = key;
    try {
        m_keychain.save(key);
    } catch (const credentials::CredentialsError &) {
        // The key still works for this run; the next start asks for a login again.
    }
    m_notifier.post();
}

void APIClient::clearApiKey()
{
    m_apiKey.reset();
    m_keychain.remove();
    m_notifier.post();
}

QUrl APIClient::authenticatedURL(const std::string &path) const
{
    // The path is appended as a path component: "?" in it is part of the path, not a query.
    QUrl url = m_config.apiBaseURL;
    QString basePath = url.path();
    QString extra = QString::fromStdString(path);
    if (basePath.endsWith(u'/') && extra.startsWith(u'/'))
        basePath.chop(1);
    else if (!basePath.endsWith(u'/') && !extra.startsWith(u'/'))
        basePath += u'/';
    url.setPath(basePath + extra, QUrl::DecodedMode);
    return url;
}

std::optional<QUrl> APIClient::unauthenticatedURL(const std::string &path) const
{
    // Plain text concatenation keeps a query string in the path intact.
    const QUrl url(m_config.apiBaseURL.toString() + QString::fromStdString(path), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

QCoro::Task<std::string> APIClient::send(QByteArray method, QUrl url, std::optional<nlohmann::json> body, bool withKey)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (withKey && m_apiKey)
        request.setRawHeader("X-Quorral-Key", QByteArray::fromStdString(*m_apiKey));
    request.setRawHeader("X-Quorral-Source", "desktop-app");
    request.setTransferTimeout(static_cast<int>(m_timeouts.idle.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);

    QByteArray payload;
    if (body)
        payload = QByteArray::fromStdString(body->dump());
    // A POST without a body still says so: servers otherwise wait for one to arrive.
    if (body || method != "GET")
        request.setHeader(QNetworkRequest::ContentLengthHeader, payload.size());
    QNetworkReply *reply = body || method != "GET" ? m_network.sendCustomRequest(request, method, payload)
                                                   : m_network.sendCustomRequest(request, method);
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> owner(reply, [](QNetworkReply *r) { r->deleteLater(); });
    QTimer::singleShot(m_timeouts.whole, reply, [reply] { reply->abort(); });

    co_await reply;

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        if (reply->error() != QNetworkReply::NoError)
            throw TransportError(reply->errorString().toStdString());
        throw APIError::invalidResponse();
    }
    const int code = status.toInt();
    std::string text = reply->readAll().toStdString();
    if (code < 200 || code > 299)
        throw APIError::httpError(code, text::isValidUtf8(text) ? text : std::string(),
                                  url.toString(QUrl::RemoveUserInfo).toStdString());
    co_return text;
}

template <typename Record>
QCoro::Task<Record> APIClient::request(QByteArray method, std::string path, std::optional<nlohmann::json> body)
{
    const QUrl url = authenticatedURL(path);
    const std::string text = co_await send(method, url, std::move(body), true);
    co_return decodeBody<Record>(text);
}

template <typename Record>
QCoro::Task<Record> APIClient::requestNoAuth(QByteArray method, std::string path, std::optional<nlohmann::json> body)
{
    const std::optional<QUrl> url = unauthenticatedURL(path);
    if (!url)
        throw APIError::invalidResponse();
    const std::string text = co_await send(method, *url, std::move(body), false);
    co_return decodeBody<Record>(text);
}

// Every record can be requested either way.
template QCoro::Task<StatsResponse> APIClient::request<StatsResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<StatsResponse> APIClient::requestNoAuth<StatsResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<ProfileResponse> APIClient::request<ProfileResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<ProfileResponse> APIClient::requestNoAuth<ProfileResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<SettingsResponse> APIClient::request<SettingsResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<SettingsResponse> APIClient::requestNoAuth<SettingsResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<DeviceLoginResponse> APIClient::request<DeviceLoginResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<DeviceLoginResponse> APIClient::requestNoAuth<DeviceLoginResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<DeviceVerifyResponse> APIClient::request<DeviceVerifyResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<DeviceVerifyResponse> APIClient::requestNoAuth<DeviceVerifyResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<MagicLoginResponse> APIClient::request<MagicLoginResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<MagicLoginResponse> APIClient::requestNoAuth<MagicLoginResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<ImportResponse> APIClient::request<ImportResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<ImportResponse> APIClient::requestNoAuth<ImportResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<IngestResponse> APIClient::request<IngestResponse>(QByteArray, std::string, std::optional<nlohmann::json>);
template QCoro::Task<IngestResponse> APIClient::requestNoAuth<IngestResponse>(QByteArray, std::string, std::optional<nlohmann::json>);

QCoro::Task<StatsResponse> APIClient::getStats()
{
    return request<StatsResponse>(QByteArrayLiteral("GET"), std::string("/v1/stats"), std::nullopt);
}

QCoro::Task<ProfileResponse> APIClient::getProfile()
{
    return request<ProfileResponse>(QByteArrayLiteral("GET"), std::string("/v1/profile"), std::nullopt);
}

QCoro::Task<SettingsResponse> APIClient::getSettings()
{
    return request<SettingsResponse>(QByteArrayLiteral("GET"), std::string("/v1/settings"), std::nullopt);
}

QCoro::Task<> APIClient::saveMemory(std::string content, std::optional<std::string> contextTag)
{
    nlohmann::json body = {{"messages", nlohmann::json::array({{{"role", "user"}, {"content", content}}})},
                           {"source", "manual"}};
    if (contextTag)
        body["context_tag"] = *contextTag;
    QByteArray method = QByteArrayLiteral("POST");
    std::string path = "/v1/ingest";
    co_await request<IngestResponse>(method, path, std::move(body));
}

namespace {

Q_LOGGING_CATEGORY(lcUpload, "quorral.upload")

struct BatchRange {
    std::size_t begin = 0;
    std::size_t end = 0;
};

nlohmann::json importBody(const std::vector<ScannedFilePayload> &files, BatchRange range, const std::string &source)
{
    nlohmann::json list = nlohmann::json::array();
    for (std::size_t i = range.begin; i < range.end; ++i) {
        nlohmann::json file = {{"path", files[i].path}, {"content", files[i].content}};
        if (files[i].contextTag)
            file["context_tag"] = *files[i].contextTag;
        list.push_back(std::move(file));
    }
    return {{"source", source}, {"files", std::move(list)}};
}

enum class BatchOutcome { accepted, tooLarge, failed, serviceGone };

} // namespace

QCoro::Task<std::size_t> APIClient::uploadScannedFiles(std::vector<ScannedFilePayload> files, std::string source)
{
    const UploadResult result = co_await uploadScannedFilesReporting(std::move(files), std::move(source));
    co_return result.accepted();
}

// Kept free of `continue` and of temporaries inside co_await expressions: GCC 12
// destroys such locals twice in coroutine loops.
QCoro::Task<UploadResult> APIClient::uploadScannedFilesReporting(std::vector<ScannedFilePayload> files, std::string source)
{
    const QByteArray method = QByteArrayLiteral("POST");
    const std::string path = "/v1/import";
    UploadResult result;
    result.statuses.assign(files.size(), UploadStatus::failed);

    // Batches still to send, the next at the back; halves of a refused batch go back in order.
    std::vector<BatchRange> pending;
    for (std::size_t begin = 0; begin < files.size(); begin += uploadBatchSize)
        pending.push_back({begin, std::min(files.size(), begin + uploadBatchSize)});
    std::reverse(pending.begin(), pending.end());
    bool serviceGone = false;
    while (!pending.empty() && !serviceGone) {
        const BatchRange range = pending.back();
        pending.pop_back();
        nlohmann::json body = importBody(files, range, source);
        BatchOutcome outcome = BatchOutcome::failed;
        try {
            co_await request<ImportResponse>(method, path, std::move(body));
            outcome = BatchOutcome::accepted;
        } catch (const APIError &error) {
            if (error.statusCode() == 413)
                outcome = BatchOutcome::tooLarge;
            else if (error.statusCode() == 401)
                outcome = BatchOutcome::serviceGone;
        } catch (const TransportError &) {
            outcome = BatchOutcome::serviceGone;
        } catch (const std::exception &) {
            // An answer that does not decode: the batch counts as failed, the next still goes.
        }
        if (outcome == BatchOutcome::accepted) {
            std::fill(result.statuses.begin() + static_cast<std::ptrdiff_t>(range.begin),
                      result.statuses.begin() + static_cast<std::ptrdiff_t>(range.end), UploadStatus::accepted);
        } else if (outcome == BatchOutcome::tooLarge && range.end - range.begin > 1) {
            const std::size_t middle = range.begin + (range.end - range.begin) / 2;
            pending.push_back({middle, range.end});
            pending.push_back({range.begin, middle});
        } else if (outcome == BatchOutcome::tooLarge) {
            result.statuses[range.begin] = UploadStatus::refused;
            qCWarning(lcUpload).noquote()
                << QStringLiteral("the service refused %1 (%2 bytes) as too large: it is not sent again until it changes")
                       .arg(QString::fromStdString(files[range.begin].path))
                       .arg(files[range.begin].content.size());
        } else if (outcome == BatchOutcome::serviceGone) {
            serviceGone = true;
        }
    }
    co_return result;
}

QCoro::Task<DeviceLoginResponse> APIClient::startDeviceLogin()
{
    nlohmann::json body = {{"device_type", "app"}};
    return requestNoAuth<DeviceLoginResponse>(QByteArrayLiteral("POST"), std::string("/v1/auth/device-login"), std::move(body));
}

QCoro::Task<DeviceVerifyResponse> APIClient::pollDeviceAuth(std::string code)
{
    // The code is appended verbatim, as the service hands it out.
    return requestNoAuth<DeviceVerifyResponse>(QByteArrayLiteral("GET"), "/v1/auth/device-verify?code=" + code, std::nullopt);
}

QCoro::Task<QUrl> APIClient::getMagicLoginURL()
{
    QByteArray method = QByteArrayLiteral("POST");
    std::string path = "/v1/auth/magic-login";
    const MagicLoginResponse response = co_await request<MagicLoginResponse>(method, path, std::nullopt);
    const QUrl url(QString::fromStdString(response.loginUrl), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        throw APIError::invalidResponse();
    co_return url;
}

} // namespace quorral::api
