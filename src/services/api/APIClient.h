#pragma once

#include "api/APIError.h"
#include "api/Config.h"
#include "api/LoginNotifier.h"
#include "api/Records.h"
#include "api/ScannedFilePayload.h"
#include "api/UploadResult.h"
#include "credentials/KeychainHelper.h"
#include "settings/DefaultsStore.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

namespace quorral::api {

struct RequestTimeouts {
    std::chrono::milliseconds idle{10'000};  // no byte moved for this long
    std::chrono::milliseconds whole{30'000}; // the whole exchange
};

// The one client of the memory service. Lives on the main thread; every request is a
// coroutine that suspends there while its exchange runs, so several may be in flight.
// Failures are thrown: APIError, TransportError, DecodeError.
class APIClient : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t uploadBatchSize = 50;
    static constexpr const char *legacyDefaultsKey = "quorral_api_key";

    APIClient(Config config, const credentials::KeychainHelper &keychain, settings::DefaultsStore &defaults,
              LoginNotifier &notifier, RequestTimeouts timeouts = {}, QObject *parent = nullptr);

    const std::optional<std::string> &apiKey() const { return m_apiKey; }
    // Re-reads the stored key: a key saved by another process counts at once.
    bool hasValidKey() const;
    void setApiKey(const std::string &key);
    void clearApiKey();
    const Config &config() const { return m_config; }

    QCoro::Task<StatsResponse> getStats();
    QCoro::Task<ProfileResponse> getProfile();
    QCoro::Task<SettingsResponse> getSettings();
    QCoro::Task<> saveMemory(std::string content, std::optional<std::string> contextTag = std::nullopt);
    // Sends the files in batches of 50, one after another; returns how many files were in
    // batches the service accepted. Never throws: a failed batch only lowers the count.
    QCoro::Task<std::size_t> uploadScannedFiles(std::vector<ScannedFilePayload> files, std::string source);
    // The same upload, telling what became of each file. A batch refused as too large is
    // split in halves down to single files; a single file still refused is `refused`.
    // Once the service is unreachable or refuses the key, the files left are `failed`
    // without being sent.
    QCoro::Task<UploadResult> uploadScannedFilesReporting(std::vector<ScannedFilePayload> files, std::string source);

    QCoro::Task<DeviceLoginResponse> startDeviceLogin();
    QCoro::Task<DeviceVerifyResponse> pollDeviceAuth(std::string code);
    QCoro::Task<QUrl> getMagicLoginURL();

    // The building blocks of the endpoints: an authenticated request (path appended as a
    // path component) and an unauthenticated one (path appended as text, keeping a query).
    template <typename Record>
    QCoro::Task<Record> request(QByteArray method, std::string path, std::optional<nlohmann::json> body);
    template <typename Record>
    QCoro::Task<Record> requestNoAuth(QByteArray method, std::string path, std::optional<nlohmann::json> body);

    // The body of a 2xx answer; throws APIError or TransportError otherwise.
    QCoro::Task<std::string> send(QByteArray method, QUrl url, std::optional<nlohmann::json> body, bool withKey);
    QUrl authenticatedURL(const std::string &path) const;
    std::optional<QUrl> unauthenticatedURL(const std::string &path) const;

private:
    Config m_config;
    const credentials::KeychainHelper &m_keychain;
    LoginNotifier &m_notifier;
    RequestTimeouts m_timeouts;
    QNetworkAccessManager m_network;
    std::optional<std::string> m_apiKey;
};

} // namespace quorral::api
