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
    double sessionIdleLifetime = 30 * 86400.0;
    std::function<double()> clock; // seconds since 1970; the system clock when empty
};

// The memory service's routes over one database. A request's body is read and parsed first;
// then it runs in one transaction under one lock, so a request that fails half-way leaves
// the stored memories as they were.
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
    struct Session {
        std::string token;
        std::string formToken;
        User user;
    };
    // What a handler gets: the request, its parsed JSON body (null for routes without one),
    // and the user its API key names (for routes that need one).
    struct Call {
        const httplib::Request &request;
        const nlohmann::json &body;
        const User *user;
    };
    using Action = void (MemoryService::*)(const Call &, httplib::Response &);
    enum class Access { open, apiKey, form };
    enum class Body { none, json };
    struct Route {
        const char *method;
        const char *pattern;
        Access access;
        Body body;
        Action action;
    };

    double now() const;
    void migrate();
    std::optional<User> userForKey(const std::string &key);
    std::optional<Session> sessionFor(const httplib::Request &request);
    std::optional<User> userById(std::int64_t id);
    User createUser();
    std::string origin(const httplib::Request &request) const;
    // "pending", "expired" or "granted" for a login page's code; absent when unknown.
    std::optional<std::string> userCodeState(const std::string &userCode);
    // A session's form, checked against the token it was given; throws 403 otherwise.
    void checkFormToken(const Session &session, const httplib::Request &request);

    httplib::Server::Handler handlerFor(const Route &route);

    void deviceLogin(const Call &, httplib::Response &);
    void deviceVerify(const Call &, httplib::Response &);
    void devicePageRoute(const Call &, httplib::Response &);
    void deviceApprove(const Call &, httplib::Response &);
    void magicLogin(const Call &, httplib::Response &);
    void magicLink(const Call &, httplib::Response &);
    void ingest(const Call &, httplib::Response &);
    void import(const Call &, httplib::Response &);
    void stats(const Call &, httplib::Response &);
    void profile(const Call &, httplib::Response &);
    void settings(const Call &, httplib::Response &);
    void dashboard(const Call &, httplib::Response &);
    void settingsPageRoute(const Call &, httplib::Response &);
    void saveSettingsPage(const Call &, httplib::Response &);
    void logout(const Call &, httplib::Response &);
    void registerTestRoutes(httplib::Server &server);

    void recordEvent(std::int64_t userId, const char *kind, std::int64_t count);
    bool isIncognito(const User &user, const std::string &source);

    ServiceOptions m_options;
    std::mutex m_lock;
    Database m_db;
    nlohmann::json m_lastEcho;
    nlohmann::json m_script = nlohmann::json::object();
    int m_scriptLogins = 0;
    int m_scriptPolls = 0;
    // Test routes only: the imports seen (source and file count each), and how many of
    // the next ones to fail with a 500.
    nlohmann::json m_importLog = nlohmann::json::array();
    int m_failingImports = 0;
};

} // namespace quorral::server
