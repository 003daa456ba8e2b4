#pragma once

#include "ServicePages.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <string>

namespace quorral::test {

// Signs a new account in through the device flow, as its login page does; returns its key.
inline std::string newAccountKey(int port)
{
    httplib::Client http("127.0.0.1", port);
    const auto login = nlohmann::json::parse(http.Post("/api/v1/auth/device-login", "{}", "application/json")->body);
    const std::string url = login.at("login_url").get<std::string>();
    approveDeviceLogin(port, url.substr(url.find("user_code=") + 10));
    const auto verify = http.Get("/api/v1/auth/device-verify?code=" + login.at("device_code").get<std::string>());
    return nlohmann::json::parse(verify->body).at("api_key").get<std::string>();
}

// The last request the service's echo route saw.
inline nlohmann::json lastEchoed(int port)
{
    httplib::Client http("127.0.0.1", port);
    return nlohmann::json::parse(http.Get("/api/test/last")->body);
}

} // namespace quorral::test
