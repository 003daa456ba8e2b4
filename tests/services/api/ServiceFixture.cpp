#include "ServiceFixture.h"

#include "ServicePages.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

namespace quorral::test {

ServiceFixture::ServiceFixture() = default;

std::unique_ptr<api::APIClient> ServiceFixture::makeClient(const QUrl &apiBase)
{
    api::Config config = api::Config::forOrigin(QUrl(QString::fromStdString(server.origin())));
    config.apiBaseURL = apiBase;
    return std::make_unique<api::APIClient>(config, keychain, defaults, notifier);
}

int ServiceFixture::approve(const std::string &loginUrl)
{
    const auto at = loginUrl.find("user_code=");
    return approveDeviceLogin(server.port(), loginUrl.substr(at + 10));
}

std::string ServiceFixture::newAccountKey()
{
    httplib::Client http("127.0.0.1", server.port());
    const auto login = nlohmann::json::parse(http.Post("/api/v1/auth/device-login", "{}", "application/json")->body);
    approve(login.at("login_url").get<std::string>());
    const auto verify = http.Get("/api/v1/auth/device-verify?code=" + login.at("device_code").get<std::string>());
    return nlohmann::json::parse(verify->body).at("api_key").get<std::string>();
}

} // namespace quorral::test
