#include "MemoryService.h"

#include "Pages.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <sys/random.h>

namespace quorral::server {
namespace {

using nlohmann::json;

// A request the client got wrong: answered with its status and a JSON error body.
struct RequestError : std::runtime_error {
    RequestError(int code, const std::string &message) : std::runtime_error(message), status(code) {}
    int status;
};

void sendJson(httplib::Response &response, const json &body, int status = 200)
{
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

void sendHtml(httplib::Response &response, const std::string &html, int status = 200)
{
    response.status = status;
    response.set_content(html, "text/html; charset=utf-8");
}

std::string randomToken(std::size_t bytes)
{
    std::string raw(bytes, '\0');
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::getrandom(raw.data() + done, bytes - done, 0);
        if (n <= 0)
            throw std::runtime_error("no randomness available");
        done += static_cast<std::size_t>(n);
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : raw) {
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

// Eight letters that cannot be confused with each other, as "ABCD-EFGH".
std::string randomUserCode()
{
    static constexpr char letters[] = "BCDFGHJKLMNPQRSTVWXZ";
    unsigned char raw[8];
    if (::getrandom(raw, sizeof raw, 0) != static_cast<ssize_t>(sizeof raw))
        throw std::runtime_error("no randomness available");
    std::string code;
    for (int i = 0; i < 8; ++i) {
        if (i == 4)
            code += '-';
        code += letters[raw[i] % 20];
    }
    return code;
}

json parseBody(const httplib::Request &request)
{
    json body = json::parse(request.body, nullptr, false);
    if (body.is_discarded())
        throw RequestError(400, "the body is not valid JSON");
    if (!body.is_object())
        throw RequestError(400, "the body must be a JSON object");
    return body;
}

const json &member(const json &object, const char *key, bool (json::*test)() const noexcept, const char *kind)
{
    const auto it = object.find(key);
    if (it == object.end() || !((*it).*test)())
        throw RequestError(400, std::string("\"") + key + "\" must be " + kind);
    return *it;
}

std::optional<std::string> optionalString(const json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    if (!it->is_string())
        throw RequestError(400, std::string("\"") + key + "\" must be a string");
    return it->get<std::string>();
}

struct Level {
    std::int64_t level;
    std::int64_t current;
    std::optional<std::int64_t> next;
    const char *label;
};

// One experience point per stored memory; six levels.
Level levelFor(std::int64_t xp)
{
    static constexpr std::int64_t thresholds[] = {0, 10, 50, 150, 400, 1000};
    static constexpr const char *labels[] = {"Stranger", "Acquaintance", "Explorer", "Confidant", "In Sync", "Kindred Spirit"};
    int index = 0;
    while (index + 1 < 6 && xp >= thresholds[index + 1])
        ++index;
    return {index + 1, thresholds[index], index + 1 < 6 ? std::optional(thresholds[index + 1]) : std::nullopt, labels[index]};
}

double startOfUtcDay(double now)
{
    return std::floor(now / 86400.0) * 86400.0;
}

const char *knownSources[] = {"claude-code", "cursor", "openclaw", "windsurf", "gemini", "copilot", "trae", "codex", "import", "manual"};

} // namespace

MemoryService::MemoryService(const std::string &databasePath, ServiceOptions options)
    : m_options(std::move(options)), m_db(databasePath)
{
    createSchema();
}

double MemoryService::now() const
{
    if (m_options.clock)
        return m_options.clock();
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void MemoryService::createSchema()
{
    m_db.execute(R"sql(
        CREATE TABLE IF NOT EXISTS users (
            id INTEGER PRIMARY KEY,
            api_key TEXT NOT NULL UNIQUE,
            display_name TEXT NOT NULL,
            email TEXT,
            referral_code TEXT NOT NULL,
            incognito_global INTEGER NOT NULL DEFAULT 0,
            created_at REAL NOT NULL);
        CREATE TABLE IF NOT EXISTS incognito_sources (
            user_id INTEGER NOT NULL REFERENCES users(id),
            source TEXT NOT NULL,
            PRIMARY KEY (user_id, source));
        CREATE TABLE IF NOT EXISTS memories (
            id INTEGER PRIMARY KEY,
            user_id INTEGER NOT NULL REFERENCES users(id),
            source TEXT NOT NULL,
            path TEXT,
            context_tag TEXT,
            content TEXT NOT NULL,
            created_at REAL NOT NULL,
            updated_at REAL NOT NULL,
            UNIQUE (user_id, source, path));
        CREATE TABLE IF NOT EXISTS device_codes (
            device_code TEXT PRIMARY KEY,
            user_code TEXT NOT NULL UNIQUE,
            expires_at REAL NOT NULL,
            user_id INTEGER,
            state TEXT NOT NULL);
        CREATE TABLE IF NOT EXISTS magic_links (
            token TEXT PRIMARY KEY,
            user_id INTEGER NOT NULL,
            expires_at REAL NOT NULL);
        CREATE TABLE IF NOT EXISTS sessions (
            token TEXT PRIMARY KEY,
            user_id INTEGER NOT NULL,
            created_at REAL NOT NULL);
        CREATE TABLE IF NOT EXISTS events (
            user_id INTEGER NOT NULL,
            kind TEXT NOT NULL,
            at REAL NOT NULL,
            count INTEGER NOT NULL);
    )sql");
}

std::string MemoryService::origin(const httplib::Request &request) const
{
    const auto host = request.get_header_value("Host");
    return "http://" + (host.empty() ? std::string("127.0.0.1:8787") : host);
}

httplib::Server::Handler MemoryService::guarded(std::function<void(const httplib::Request &, httplib::Response &)> handler)
{
    return [this, handler = std::move(handler)](const httplib::Request &request, httplib::Response &response) {
        std::lock_guard lock(m_lock);
        try {
            Transaction transaction(m_db);
            handler(request, response);
            transaction.commit();
        } catch (const RequestError &error) {
            sendJson(response, {{"error", error.what()}}, error.status);
        } catch (const std::exception &error) {
            sendJson(response, {{"error", std::string("internal error: ") + error.what()}}, 500);
        }
    };
}

httplib::Server::Handler MemoryService::authenticated(
    std::function<void(const User &, const httplib::Request &, httplib::Response &)> handler)
{
    return guarded([this, handler = std::move(handler)](const httplib::Request &request, httplib::Response &response) {
        const auto key = request.get_header_value("X-Quorral-Key");
        if (key.empty())
            throw RequestError(401, "missing API key: send it in the X-Quorral-Key header");
        const auto user = userForKey(key);
        if (!user)
            throw RequestError(401, "unknown API key");
        handler(*user, request, response);
    });
}

std::optional<MemoryService::User> MemoryService::userById(std::int64_t id)
{
    auto s = m_db.prepare("SELECT id, api_key, display_name, email, referral_code, incognito_global FROM users WHERE id = ?");
    s.bind(1, id);
    if (!s.step())
        return std::nullopt;
    return User{s.integer(0), s.text(1), s.text(2), s.optionalText(3), s.text(4), s.integer(5) != 0};
}

std::optional<MemoryService::User> MemoryService::userForKey(const std::string &key)
{
    auto s = m_db.prepare("SELECT id FROM users WHERE api_key = ?");
    s.bind(1, std::string_view(key));
    if (!s.step())
        return std::nullopt;
    return userById(s.integer(0));
}

std::optional<MemoryService::User> MemoryService::userForSession(const httplib::Request &request)
{
    const std::string cookies = request.get_header_value("Cookie");
    const std::string name = "quorral_session=";
    const auto at = cookies.find(name);
    if (at == std::string::npos)
        return std::nullopt;
    const auto end = cookies.find(';', at);
    const std::string token = cookies.substr(at + name.size(), end == std::string::npos ? std::string::npos : end - at - name.size());
    auto s = m_db.prepare("SELECT user_id FROM sessions WHERE token = ?");
    s.bind(1, std::string_view(token));
    if (!s.step())
        return std::nullopt;
    return userById(s.integer(0));
}

MemoryService::User MemoryService::createUser()
{
    User user;
    user.apiKey = "qo_sk_" + randomToken(24);
    user.referralCode = randomToken(4);
    auto count = m_db.prepare("SELECT COUNT(*) FROM users");
    count.step();
    user.displayName = "Local user " + std::to_string(count.integer(0) + 1);
    auto insert = m_db.prepare("INSERT INTO users (api_key, display_name, referral_code, created_at) VALUES (?, ?, ?, ?)");
    insert.bind(1, std::string_view(user.apiKey)).bind(2, std::string_view(user.displayName)).bind(3, std::string_view(user.referralCode)).bind(4, now());
    insert.run();
    user.id = m_db.lastInsertId();
    return user;
}

void MemoryService::recordEvent(std::int64_t userId, const char *kind, std::int64_t count)
{
    auto s = m_db.prepare("INSERT INTO events (user_id, kind, at, count) VALUES (?, ?, ?, ?)");
    s.bind(1, userId).bind(2, std::string_view(kind)).bind(3, now()).bind(4, count);
    s.run();
}

bool MemoryService::isIncognito(const User &user, const std::string &source)
{
    if (user.incognitoGlobal)
        return true;
    auto s = m_db.prepare("SELECT 1 FROM incognito_sources WHERE user_id = ? AND source = ?");
    s.bind(1, user.id).bind(2, std::string_view(source));
    return s.step();
}

void MemoryService::deviceLogin(const httplib::Request &request, httplib::Response &response)
{
    const json body = parseBody(request);
    if (const auto type = body.find("device_type"); type != body.end() && !type->is_string())
        throw RequestError(400, "\"device_type\" must be a string");
    const std::string deviceCode = randomToken(32);
    const std::string userCode = randomUserCode();
    auto s = m_db.prepare("INSERT INTO device_codes (device_code, user_code, expires_at, state) VALUES (?, ?, ?, 'pending')");
    s.bind(1, std::string_view(deviceCode)).bind(2, std::string_view(userCode)).bind(3, now() + m_options.deviceCodeLifetime);
    s.run();
    sendJson(response, {{"device_code", deviceCode},
                        {"login_url", origin(request) + "/device?user_code=" + userCode},
                        {"expires_in", static_cast<std::int64_t>(m_options.deviceCodeLifetime)}});
}

void MemoryService::deviceVerify(const httplib::Request &request, httplib::Response &response)
{
    const std::string code = request.get_param_value("code");
    auto s = m_db.prepare("SELECT state, expires_at, user_id FROM device_codes WHERE device_code = ?");
    s.bind(1, std::string_view(code));
    if (code.empty() || !s.step()) {
        sendJson(response, {{"status", "expired"}});
        return;
    }
    const std::string state = s.text(0);
    const double expiresAt = s.real(1);
    const std::int64_t userId = s.integer(2);
    if (state == "granted") {
        // The key is handed out once; the code is spent afterwards.
        auto spend = m_db.prepare("UPDATE device_codes SET state = 'consumed' WHERE device_code = ?");
        spend.bind(1, std::string_view(code)).run();
        const auto user = userById(userId);
        if (!user)
            throw std::runtime_error("granted device code without a user");
        sendJson(response, {{"status", "granted"}, {"api_key", user->apiKey}});
        return;
    }
    if (state == "consumed" || now() >= expiresAt) {
        sendJson(response, {{"status", "expired"}});
        return;
    }
    sendJson(response, {{"status", "pending"}});
}

std::optional<std::string> MemoryService::userCodeState(const std::string &userCode)
{
    auto s = m_db.prepare("SELECT state, expires_at FROM device_codes WHERE user_code = ?");
    s.bind(1, std::string_view(userCode));
    if (!s.step())
        return std::nullopt;
    const std::string state = s.text(0);
    if (state == "pending")
        return now() >= s.real(1) ? "expired" : "pending";
    return "granted"; // granted, or granted and already collected
}

void MemoryService::devicePageRoute(const httplib::Request &request, httplib::Response &response)
{
    const std::string userCode = request.get_param_value("user_code");
    const auto state = userCodeState(userCode);
    if (!state)
        sendHtml(response, messagePage("Unknown code", "This sign-in link is not valid."), 404);
    else
        sendHtml(response, devicePage(userCode, *state));
}

void MemoryService::deviceApprove(const httplib::Request &request, httplib::Response &response)
{
    const std::string userCode = request.get_param_value("user_code");
    const auto state = userCodeState(userCode);
    if (!state) {
        sendHtml(response, messagePage("Unknown code", "This sign-in link is not valid."), 404);
        return;
    }
    if (*state != "pending") {
        sendHtml(response, devicePage(userCode, *state));
        return;
    }
    const User user = createUser();
    auto grant = m_db.prepare("UPDATE device_codes SET state = 'granted', user_id = ? WHERE user_code = ?");
    grant.bind(1, user.id).bind(2, std::string_view(userCode)).run();
    sendHtml(response, devicePage(userCode, "granted"));
}

void MemoryService::magicLogin(const User &user, const httplib::Request &request, httplib::Response &response)
{
    const std::string token = randomToken(24);
    auto s = m_db.prepare("INSERT INTO magic_links (token, user_id, expires_at) VALUES (?, ?, ?)");
    s.bind(1, std::string_view(token)).bind(2, user.id).bind(3, now() + 300).run();
    sendJson(response, {{"login_url", origin(request) + "/magic?token=" + token}});
}

void MemoryService::magicLink(const httplib::Request &request, httplib::Response &response)
{
    const std::string token = request.get_param_value("token");
    auto s = m_db.prepare("SELECT user_id, expires_at FROM magic_links WHERE token = ?");
    s.bind(1, std::string_view(token));
    if (token.empty() || !s.step() || now() >= s.real(1)) {
        sendHtml(response, messagePage("Link expired", "Open the dashboard from Quorral again."), 403);
        return;
    }
    const std::int64_t userId = s.integer(0);
    m_db.prepare("DELETE FROM magic_links WHERE token = ?").bind(1, std::string_view(token)).run();
    const std::string session = randomToken(24);
    m_db.prepare("INSERT INTO sessions (token, user_id, created_at) VALUES (?, ?, ?)")
        .bind(1, std::string_view(session)).bind(2, userId).bind(3, now()).run();
    // Only a local path is followed, so a link cannot send the browser elsewhere.
    std::string target = request.get_param_value("redirect");
    if (target.empty() || target[0] != '/' || target.starts_with("//"))
        target = "/dashboard";
    response.set_header("Set-Cookie", "quorral_session=" + session + "; Path=/; HttpOnly; SameSite=Lax");
    response.set_redirect(target, 303);
}

void MemoryService::ingest(const User &user, const httplib::Request &request, httplib::Response &response)
{
    const json body = parseBody(request);
    const auto &messages = member(body, "messages", &json::is_array, "an array of messages");
    const std::string source = member(body, "source", &json::is_string, "a string").get<std::string>();
    const auto tag = optionalString(body, "context_tag");
    std::string content;
    for (const auto &message : messages) {
        if (!message.is_object())
            throw RequestError(400, "every message must be an object");
        const auto text = member(message, "content", &json::is_string, "a string").get<std::string>();
        member(message, "role", &json::is_string, "a string");
        if (!content.empty())
            content += "\n\n";
        content += text;
    }
    if (content.empty())
        throw RequestError(400, "a memory needs some content");
    if (!isIncognito(user, source)) {
        auto s = m_db.prepare("INSERT INTO memories (user_id, source, path, context_tag, content, created_at, updated_at) "
                              "VALUES (?, ?, NULL, ?, ?, ?, ?)");
        s.bind(1, user.id).bind(2, std::string_view(source)).bind(3, tag).bind(4, std::string_view(content)).bind(5, now()).bind(6, now());
        s.run();
    }
    recordEvent(user.id, "ingest", 1);
    sendJson(response, {{"accepted", true}});
}

void MemoryService::import(const User &user, const httplib::Request &request, httplib::Response &response)
{
    const json body = parseBody(request);
    const std::string source = member(body, "source", &json::is_string, "a string").get<std::string>();
    const auto &files = member(body, "files", &json::is_array, "an array of files");
    // Validate everything before storing anything.
    for (const auto &file : files) {
        if (!file.is_object())
            throw RequestError(400, "every file must be an object");
        member(file, "path", &json::is_string, "a string");
        member(file, "content", &json::is_string, "a string");
        optionalString(file, "context_tag");
    }
    if (isIncognito(user, source)) {
        sendJson(response, {{"accepted", true}, {"files_queued", 0}, {"skipped_incognito", true}});
        return;
    }
    auto upsert = m_db.prepare(
        "INSERT INTO memories (user_id, source, path, context_tag, content, created_at, updated_at) VALUES (?, ?, ?, ?, ?, ?, ?) "
        "ON CONFLICT (user_id, source, path) DO UPDATE SET content = excluded.content, context_tag = excluded.context_tag, "
        "updated_at = excluded.updated_at");
    for (const auto &file : files) {
        const auto path = file.at("path").get<std::string>();
        const auto content = file.at("content").get<std::string>();
        upsert.bind(1, user.id).bind(2, std::string_view(source)).bind(3, std::string_view(path))
            .bind(4, optionalString(file, "context_tag")).bind(5, std::string_view(content)).bind(6, now()).bind(7, now());
        upsert.run();
        upsert.reset();
    }
    recordEvent(user.id, "import", static_cast<std::int64_t>(files.size()));
    sendJson(response, {{"accepted", true}, {"files_queued", files.size()}, {"skipped_incognito", false}});
}

void MemoryService::stats(const User &user, const httplib::Request &, httplib::Response &response)
{
    auto totals = m_db.prepare("SELECT COUNT(*), COUNT(path), COALESCE(SUM(LENGTH(content)), 0) FROM memories WHERE user_id = ?");
    totals.bind(1, user.id).step();
    const std::int64_t memories = totals.integer(0);
    const std::int64_t conversations = totals.integer(1);
    const std::int64_t tokensSaved = totals.integer(2) / 4;
    auto calls = m_db.prepare("SELECT COUNT(*) FROM events WHERE user_id = ?");
    calls.bind(1, user.id).step();
    const double dayStart = startOfUtcDay(now());
    auto todayIngests = m_db.prepare("SELECT COUNT(*) FROM events WHERE user_id = ? AND at >= ?");
    todayIngests.bind(1, user.id).bind(2, dayStart).step();
    auto todayNew = m_db.prepare("SELECT COUNT(*) FROM memories WHERE user_id = ? AND created_at >= ?");
    todayNew.bind(1, user.id).bind(2, dayStart).step();
    sendJson(response, {{"total_memories", memories},
                        {"total_conversations", conversations},
                        {"tokens_saved", tokensSaved},
                        {"saved_usd", static_cast<double>(tokensSaved) * 3e-6},
                        {"optimize_calls", 0},
                        {"ingest_calls", calls.integer(0)},
                        {"today", {{"recalls", 0}, {"ingests", todayIngests.integer(0)}, {"new_memories", todayNew.integer(0)}}}});
}

void MemoryService::profile(const User &user, const httplib::Request &, httplib::Response &response)
{
    auto count = m_db.prepare("SELECT COUNT(*) FROM memories WHERE user_id = ?");
    count.bind(1, user.id).step();
    const std::int64_t memories = count.integer(0);
    const Level level = levelFor(memories);
    json body = {{"display_name", user.displayName},
                 {"qo_id", "qo_" + std::to_string(user.id)},
                 {"plan", "free"},
                 {"level", level.level},
                 {"level_label", level.label},
                 {"xp", memories},
                 {"xp_current_level", level.current},
                 {"is_max_level", !level.next.has_value()},
                 {"memory_count", memories},
                 {"referral_code", user.referralCode},
                 {"is_pioneer", user.id <= 100}};
    if (level.next)
        body["xp_next_level"] = *level.next;
    if (user.email)
        body["email"] = *user.email;
    sendJson(response, body);
}

void MemoryService::settings(const User &user, const httplib::Request &, httplib::Response &response)
{
    json sources = json::array();
    auto s = m_db.prepare("SELECT source FROM incognito_sources WHERE user_id = ? ORDER BY source");
    s.bind(1, user.id);
    while (s.step())
        sources.push_back(s.text(0));
    json body = {{"incognito_global", user.incognitoGlobal}, {"incognito_sources", sources}, {"budget_preset", "balanced"}};
    if (user.email)
        body["email"] = *user.email;
    sendJson(response, body);
}

void MemoryService::dashboard(const httplib::Request &request, httplib::Response &response)
{
    const auto user = userForSession(request);
    if (!user) {
        sendHtml(response, messagePage("Not signed in", "Open the dashboard from Quorral to sign in."), 401);
        return;
    }
    std::vector<StoredMemory> memories;
    auto s = m_db.prepare("SELECT source, path, context_tag, content, updated_at FROM memories WHERE user_id = ? "
                          "ORDER BY updated_at DESC, id DESC");
    s.bind(1, user->id);
    while (s.step())
        memories.push_back({s.text(0), s.optionalText(1), s.optionalText(2), s.text(3), s.real(4)});
    sendHtml(response, dashboardPage(user->displayName, memories));
}

void MemoryService::settingsPageRoute(const httplib::Request &request, httplib::Response &response)
{
    const auto user = userForSession(request);
    if (!user) {
        sendHtml(response, messagePage("Not signed in", "Open the settings from Quorral to sign in."), 401);
        return;
    }
    std::vector<std::pair<std::string, bool>> sources;
    for (const char *source : knownSources)
        sources.emplace_back(source, isIncognito(User{user->id, "", "", {}, "", false}, source));
    sendHtml(response, settingsPage(user->incognitoGlobal, sources, request.has_param("saved")));
}

void MemoryService::saveSettingsPage(const httplib::Request &request, httplib::Response &response)
{
    const auto user = userForSession(request);
    if (!user) {
        sendHtml(response, messagePage("Not signed in", "Open the settings from Quorral to sign in."), 401);
        return;
    }
    m_db.prepare("UPDATE users SET incognito_global = ? WHERE id = ?")
        .bind(1, std::int64_t{request.has_param("incognito_global") ? 1 : 0}).bind(2, user->id).run();
    m_db.prepare("DELETE FROM incognito_sources WHERE user_id = ?").bind(1, user->id).run();
    const auto count = request.get_param_value_count("incognito_source");
    for (std::size_t i = 0; i < count; ++i) {
        m_db.prepare("INSERT OR IGNORE INTO incognito_sources (user_id, source) VALUES (?, ?)")
            .bind(1, user->id).bind(2, std::string_view(request.get_param_value("incognito_source", i))).run();
    }
    response.set_redirect("/settings?saved=1", 303);
}

void MemoryService::registerRoutes(httplib::Server &server)
{
    using namespace std::placeholders;
    server.set_payload_max_length(maxBodySize);
    // Headers and body go out in separate writes: without this, delayed ACKs add 40 ms.
    server.set_tcp_nodelay(true);
    auto bind2 = [this](void (MemoryService::*f)(const httplib::Request &, httplib::Response &)) {
        return guarded([this, f](const httplib::Request &q, httplib::Response &r) { (this->*f)(q, r); });
    };
    auto bind3 = [this](void (MemoryService::*f)(const User &, const httplib::Request &, httplib::Response &)) {
        return authenticated([this, f](const User &u, const httplib::Request &q, httplib::Response &r) { (this->*f)(u, q, r); });
    };
    server.Post("/api/v1/auth/device-login", bind2(&MemoryService::deviceLogin));
    server.Get("/api/v1/auth/device-verify", bind2(&MemoryService::deviceVerify));
    server.Post("/api/v1/auth/magic-login", bind3(&MemoryService::magicLogin));
    server.Post("/api/v1/ingest", bind3(&MemoryService::ingest));
    server.Post("/api/v1/import", bind3(&MemoryService::import));
    server.Get("/api/v1/stats", bind3(&MemoryService::stats));
    server.Get("/api/v1/profile", bind3(&MemoryService::profile));
    server.Get("/api/v1/settings", bind3(&MemoryService::settings));
    server.Get("/device", bind2(&MemoryService::devicePageRoute));
    server.Post("/device/approve", bind2(&MemoryService::deviceApprove));
    server.Get("/magic", bind2(&MemoryService::magicLink));
    server.Get("/dashboard", bind2(&MemoryService::dashboard));
    server.Get("/settings", bind2(&MemoryService::settingsPageRoute));
    server.Post("/settings", bind2(&MemoryService::saveSettingsPage));
    server.Get("/", [](const httplib::Request &, httplib::Response &r) { r.set_redirect("/dashboard", 303); });

    if (m_options.testRoutes) {
        // Echoes the request (and keeps it for /api/test/last); "accepted" makes the echo
        // decodable as an upload or ingest answer.
        auto echo = [this](const httplib::Request &q, httplib::Response &r) {
            json headers = json::object();
            for (const auto &[name, value] : q.headers)
                headers[name] = value;
            json params = json::object();
            for (const auto &[name, value] : q.params)
                params[name] = value;
            json echoed = {{"accepted", true}, {"method", q.method}, {"path", q.path}, {"params", params},
                           {"headers", headers}, {"body", q.body}};
            {
                std::lock_guard lock(m_lock);
                m_lastEcho = echoed;
            }
            sendJson(r, echoed);
        };
        server.Get("/api/test/last", [this](const httplib::Request &, httplib::Response &r) {
            std::lock_guard lock(m_lock);
            sendJson(r, m_lastEcho);
        });
        server.Get(R"(/api/test/echo.*)", echo);
        server.Post(R"(/api/test/echo.*)", echo);
        // A scripted device login: the test sets what the next polls answer.
        server.Post("/api/test/scripted/setup", [this](const httplib::Request &q, httplib::Response &r) {
            std::lock_guard lock(m_lock);
            m_script = json::parse(q.body, nullptr, false);
            m_scriptLogins = 0;
            m_scriptPolls = 0;
            sendJson(r, {{"ok", true}});
        });
        server.Get("/api/test/scripted/count", [this](const httplib::Request &, httplib::Response &r) {
            std::lock_guard lock(m_lock);
            sendJson(r, {{"logins", m_scriptLogins}, {"polls", m_scriptPolls}});
        });
        server.Post("/api/test/scripted/v1/auth/device-login", [this](const httplib::Request &, httplib::Response &r) {
            std::lock_guard lock(m_lock);
            ++m_scriptLogins;
            sendJson(r, {{"device_code", "scripted-code"},
                         {"login_url", m_script.value("login_url", std::string("http://127.0.0.1/device?user_code=TEST"))},
                         {"expires_in", m_script.value("expires_in", 600)}});
        });
        server.Get("/api/test/scripted/v1/auth/device-verify", [this](const httplib::Request &, httplib::Response &r) {
            std::lock_guard lock(m_lock);
            const std::size_t index = static_cast<std::size_t>(m_scriptPolls++);
            const json polls = m_script.value("polls", json::array());
            const json answer = index < polls.size() ? polls[index] : json{{"status", "pending"}};
            if (answer.contains("fail"))
                sendJson(r, {{"error", "failing on purpose"}}, answer["fail"].get<int>());
            else
                sendJson(r, answer);
        });
        server.Get("/api/test/empty", [](const httplib::Request &, httplib::Response &r) { r.status = 200; });
        server.Get("/api/test/no-content", [](const httplib::Request &, httplib::Response &r) { r.status = 204; });
        server.Get("/api/test/plain-404", [](const httplib::Request &, httplib::Response &r) {
            r.status = 404;
            r.set_content("no such thing here", "text/plain");
        });
        server.Post("/api/test/fail-import", [](const httplib::Request &, httplib::Response &r) {
            r.status = 500;
            r.set_content("{\"error\":\"failing on purpose\"}", "application/json");
        });
    }
    server.set_exception_handler([](const httplib::Request &, httplib::Response &r, std::exception_ptr) {
        sendJson(r, {{"error", "internal error"}}, 500);
    });
}

} // namespace quorral::server
