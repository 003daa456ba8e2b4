#pragma once

#include "Database.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace quorral::server {

struct ServiceOptions {
    // Extra routes under /api/test for the client's tests (echo, empty body, plain 404).
    bool testRoutes = false;
    double deviceCodeLifetime = 600;
    std::function<double()> clock; // seconds since 1970; the system clock when empty
};

// The memory service's routes over one database. Every request runs in one transaction
// under one lock, so a request that fails half-way leaves the stored memories as they were.
class MemoryService {
public:
    static constexpr std::size_t maxBodySize = 32u << 20;

    MemoryService(const std::string &databasePath, ServiceOptions options);

    void registerRoutes(httplib::Server &server);

private:
    struct User {
        std::int64_t id = 0;
        std::string apiKey;
        std::string displayName;
        std::optional<std::string> email;
        std::string referralCode;
        bool incognitoGlobal = false;
    };

    double now() const;
    void createSchema();
    std::optional<User> userForKey(const std::string &key);
    std::optional<User> userForSession(const httplib::Request &request);
    std::optional<User> userById(std::int64_t id);
    User createUser();
    std::string origin(const httplib::Request &request) const;
    // "pending", "expired" or "granted" for a login page's code; absent when unknown.
    std::optional<std::string> userCodeState(const std::string &userCode);

    // Wraps a handler: the lock, the transaction, JSON errors for anything it throws.
    httplib::Server::Handler guarded(std::function<void(const httplib::Request &, httplib::Response &)> handler);
    httplib::Server::Handler authenticated(std::function<void(const User &, const httplib::Request &, httplib::Response &)> handler);

    void deviceLogin(const httplib::Request &, httplib::Response &);
    void deviceVerify(const httplib::Request &, httplib::Response &);
    void devicePageRoute(const httplib::Request &, httplib::Response &);
    void deviceApprove(const httplib::Request &, httplib::Response &);
    void magicLogin(const User &, const httplib::Request &, httplib::Response &);
    void magicLink(const httplib::Request &, httplib::Response &);
    void ingest(const User &, const httplib::Request &, httplib::Response &);
    void import(const User &, const httplib::Request &, httplib::Response &);
    void stats(const User &, const httplib::Request &, httplib::Response &);
    void profile(const User &, const httplib::Request &, httplib::Response &);
    void settings(const User &, const httplib::Request &, httplib::Response &);
    void dashboard(const httplib::Request &, httplib::Response &);
    void settingsPageRoute(const httplib::Request &, httplib::Response &);
    void saveSettingsPage(const httplib::Request &, httplib::Response &);

    void recordEvent(std::int64_t userId, const char *kind, std::int64_t count);
    bool isIncognito(const User &user, const std::string &source);

    ServiceOptions m_options;
    std::mutex m_lock;
    Database m_db;
    nlohmann::json m_lastEcho;
    nlohmann::json m_script = nlohmann::json::object();
    int m_scriptLogins = 0;
    int m_scriptPolls = 0;
};

} // namespace quorral::server
