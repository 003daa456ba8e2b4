#include "MemoryService.h"

#include "JsonBody.h"
#include "Pages.h"
#include "RequestChecks.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
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

const char sessionCookie[] = "quorral_session";
const char deviceFormCookie[] = "quorral_device_form";

// A stable 64-bit FNV-1a hash: stored with each memory so an identical upload is found
// through the index, then confirmed byte for byte.
std::int64_t contentHash(std::string_view text)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return static_cast<std::int64_t>(hash);
}

void contentHashFunction(sqlite3_context *context, int, sqlite3_value **values)
{
    const auto *data = static_cast<const char *>(sqlite3_value_blob(values[0]));
    const auto size = static_cast<std::size_t>(sqlite3_value_bytes(values[0]));
    sqlite3_result_int64(context, contentHash(data ? std::string_view(data, size) : std::string_view()));
}

// Schema steps, each run once and in order; PRAGMA user_version counts those done. A database
// from before the counting has the first step's tables already and is at 0.
const char *const migrations[] = {
    R"sql(
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
    )sql",
    // Every increment of a file is kept (one row per upload, identical ones once), and
    // sessions get a form token and an idle expiry.
    R"sql(
        CREATE TABLE memories_history (
            id INTEGER PRIMARY KEY,
            user_id INTEGER NOT NULL REFERENCES users(id),
            source TEXT NOT NULL,
            path TEXT,
            context_tag TEXT,
            content TEXT NOT NULL,
            content_hash INTEGER NOT NULL,
            created_at REAL NOT NULL,
            updated_at REAL NOT NULL);
        INSERT INTO memories_history (id, user_id, source, path, context_tag, content, content_hash, created_at, updated_at)
            SELECT id, user_id, source, path, context_tag, content, content_hash(content), created_at, updated_at FROM memories;
        DROP TABLE memories;
        ALTER TABLE memories_history RENAME TO memories;
        CREATE INDEX memories_by_file ON memories (user_id, source, path, content_hash);
        ALTER TABLE sessions ADD COLUMN form_token TEXT;
        ALTER TABLE sessions ADD COLUMN last_seen REAL;
        UPDATE sessions SET last_seen = created_at;
    )sql",
};

// Why a request is turned away before its body is read; absent when it may go on.
std::optional<std::pair<int, std::string>> refusal(const httplib::Request &request)
{
    if (!isLoopbackHost(request.get_header_value("Host")))
        return std::pair(421, "this service answers only to localhost, 127.0.0.1 or [::1]");
    const std::string encoding = request.get_header_value("Content-Encoding");
    if (!encoding.empty() && encoding != "identity")
        return std::pair(415, "compressed request bodies are not accepted (Content-Encoding: " + encoding + ")");
    const bool chunked = request.has_header("Transfer-Encoding");
    if (chunked && request.get_header_value("Transfer-Encoding") != "chunked")
        return std::pair(501, "only the chunked transfer encoding is accepted");
    if (request.has_header("Content-Length")) {
        if (chunked)
            return std::pair(400, "a request cannot have both Content-Length and Transfer-Encoding");
        const std::string length = request.get_header_value("Content-Length");
        if (length.empty() || length.size() > 12 || !std::all_of(length.begin(), length.end(), [](unsigned char c) { return c >= '0' && c <= '9'; }))
            return std::pair(400, "Content-Length must be a number");
        if (std::stoull(length) > MemoryService::maxBodySize)
            return std::pair(413, "the request body is larger than 32 MiB");
    }
    return std::nullopt;
}

} // namespace

MemoryService::MemoryService(const std::string &databasePath, ServiceOptions options)
    : m_options(std::move(options)), m_db(databasePath)
{
    sqlite3_create_function_v2(m_db.handle(), "content_hash", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                               contentHashFunction, nullptr, nullptr, nullptr);
    migrate();
}

double MemoryService::now() const
{
    if (m_options.clock)
        return m_options.clock();
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void MemoryService::migrate()
{
    const int done = m_db.userVersion();
    const int steps = static_cast<int>(std::size(migrations));
    if (done > steps)
        throw DatabaseError("the database is from a newer version of the service (schema " + std::to_string(done) + ")");
    for (int step = done; step < steps; ++step) {
        Transaction transaction(m_db);
        m_db.execute(migrations[step]);
        m_db.setUserVersion(step + 1);
        transaction.commit();
    }
}

std::string MemoryService::origin(const httplib::Request &request) const
{
    // The Host header was checked to be a loopback name before routing.
    return "http://" + request.get_header_value("Host");
}

httplib::Server::Handler MemoryService::handlerFor(const Route &route)
{
    return [this, route](const httplib::Request &request, httplib::Response &response) {
        try {
            if (route.access == Access::form) {
                // A form posted from another origin is refused whatever it carries.
                const std::string own = origin(request);
                const std::string from = request.has_header("Origin") ? request.get_header_value("Origin")
                                                                      : request.get_header_value("Referer");
                if ((request.has_header("Origin") || request.has_header("Referer")) && !isSameOrigin(from, own))
                    throw RequestError(403, "this form may only be sent from " + own);
            }
            // The body is parsed before the lock, so a large one does not hold up other requests.
            JsonBody body;
            if (route.body == Body::json) {
                body = parseJsonObject(request.body);
                if (!body.ok())
                    throw RequestError(400, body.error);
            }
            std::string key;
            if (route.access == Access::apiKey) {
                key = request.get_header_value("X-Quorral-Key");
                if (key.empty())
                    throw RequestError(401, "missing API key: send it in the X-Quorral-Key header");
            }
            std::lock_guard lock(m_lock);
            Transaction transaction(m_db);
            std::optional<User> user;
            if (route.access == Access::apiKey) {
                user = userForKey(key);
                if (!user)
                    throw RequestError(401, "unknown API key");
            }
            (this->*route.action)(Call{request, body.value, user ? &*user : nullptr}, response);
            transaction.commit();
        } catch (const RequestError &error) {
            sendJson(response, {{"error", error.what()}}, error.status);
        } catch (const std::exception &error) {
            sendJson(response, {{"error", std::string("internal error: ") + error.what()}}, 500);
        }
    };
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

std::optional<MemoryService::Session> MemoryService::sessionFor(const httplib::Request &request)
{
    std::optional<std::string> token;
    for (std::size_t i = 0; i < request.get_header_value_count("Cookie") && !token; ++i)
        token = cookieValue(request.get_header_value("Cookie", i), sessionCookie);
    if (!token || token->empty())
        return std::nullopt;
    auto s = m_db.prepare("SELECT user_id, form_token, last_seen FROM sessions WHERE token = ?");
    s.bind(1, std::string_view(*token));
    if (!s.step())
        return std::nullopt;
    const std::int64_t userId = s.integer(0);
    std::optional<std::string> formToken = s.optionalText(1);
    const double lastSeen = s.real(2);
    if (now() - lastSeen > m_options.sessionIdleLifetime) {
        m_db.prepare("DELETE FROM sessions WHERE token = ?").bind(1, std::string_view(*token)).run();
        return std::nullopt;
    }
    if (!formToken)
        formToken = randomToken(24); // a session from before form tokens
    m_db.prepare("UPDATE sessions SET last_seen = ?, form_token = ? WHERE token = ?")
        .bind(1, now()).bind(2, std::string_view(*formToken)).bind(3, std::string_view(*token)).run();
    auto user = userById(userId);
    if (!user)
        return std::nullopt;
    return Session{*token, *formToken, *user};
}

void MemoryService::checkFormToken(const Session &session, const httplib::Request &request)
{
    if (!secretsEqual(request.get_param_value("csrf_token"), session.formToken))
        throw RequestError(403, "the form is out of date: load the page again");
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

void MemoryService::deviceLogin(const Call &call, httplib::Response &response)
{
    if (const auto type = call.body.find("device_type"); type != call.body.end() && !type->is_string())
        throw RequestError(400, "\"device_type\" must be a string");
    const std::string deviceCode = randomToken(32);
    const std::string userCode = randomUserCode();
    auto s = m_db.prepare("INSERT INTO device_codes (device_code, user_code, expires_at, state) VALUES (?, ?, ?, 'pending')");
    s.bind(1, std::string_view(deviceCode)).bind(2, std::string_view(userCode)).bind(3, now() + m_options.deviceCodeLifetime);
    s.run();
    sendJson(response, {{"device_code", deviceCode},
                        {"login_url", origin(call.request) + "/device?user_code=" + userCode},
                        {"expires_in", static_cast<std::int64_t>(m_options.deviceCodeLifetime)}});
}

void MemoryService::deviceVerify(const Call &call, httplib::Response &response)
{
    const std::string code = call.request.get_param_value("code");
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

void MemoryService::devicePageRoute(const Call &call, httplib::Response &response)
{
    const std::string userCode = call.request.get_param_value("user_code");
    const auto state = userCodeState(userCode);
    if (!state) {
        sendHtml(response, messagePage("Unknown code", "This sign-in link is not valid."), 404);
        return;
    }
    // Nobody is signed in yet, so the approval form's token is tied to a cookie of its own,
    // which a page of another origin can neither read nor set.
    std::optional<std::string> token = cookieValue(call.request.get_header_value("Cookie"), deviceFormCookie);
    if (!token || token->size() != 48) {
        token = randomToken(24);
        response.set_header("Set-Cookie", std::string(deviceFormCookie) + "=" + *token + "; Path=/device; HttpOnly; SameSite=Strict");
    }
    sendHtml(response, devicePage(userCode, *state, *token));
}

void MemoryService::deviceApprove(const Call &call, httplib::Response &response)
{
    const auto cookie = cookieValue(call.request.get_header_value("Cookie"), deviceFormCookie);
    if (!cookie || cookie->empty() || !secretsEqual(*cookie, call.request.get_param_value("csrf_token")))
        throw RequestError(403, "the form is out of date: load the sign-in page again");
    const std::string userCode = call.request.get_param_value("user_code");
    const auto state = userCodeState(userCode);
    if (!state) {
        sendHtml(response, messagePage("Unknown code", "This sign-in link is not valid."), 404);
        return;
    }
    if (*state != "pending") {
        sendHtml(response, devicePage(userCode, *state, *cookie));
        return;
    }
    const User user = createUser();
    auto grant = m_db.prepare("UPDATE device_codes SET state = 'granted', user_id = ? WHERE user_code = ?");
    grant.bind(1, user.id).bind(2, std::string_view(userCode)).run();
    sendHtml(response, devicePage(userCode, "granted", *cookie));
}

void MemoryService::magicLogin(const Call &call, httplib::Response &response)
{
    const std::string token = randomToken(24);
    auto s = m_db.prepare("INSERT INTO magic_links (token, user_id, expires_at) VALUES (?, ?, ?)");
    s.bind(1, std::string_view(token)).bind(2, call.user->id).bind(3, now() + 300).run();
    sendJson(response, {{"login_url", origin(call.request) + "/magic?token=" + token}});
}

void MemoryService::magicLink(const Call &call, httplib::Response &response)
{
    const std::string token = call.request.get_param_value("token");
    auto s = m_db.prepare("SELECT user_id, expires_at FROM magic_links WHERE token = ?");
    s.bind(1, std::string_view(token));
    if (token.empty() || !s.step() || now() >= s.real(1)) {
        sendHtml(response, messagePage("Link expired", "Open the dashboard from Quorral again."), 403);
        return;
    }
    const std::int64_t userId = s.integer(0);
    m_db.prepare("DELETE FROM magic_links WHERE token = ?").bind(1, std::string_view(token)).run();
    const std::string session = randomToken(24);
    m_db.prepare("INSERT INTO sessions (token, user_id, created_at, form_token, last_seen) VALUES (?, ?, ?, ?, ?)")
        .bind(1, std::string_view(session)).bind(2, userId).bind(3, now()).bind(4, std::string_view(randomToken(24))).bind(5, now()).run();
    // Only a path on this origin is followed, so a link cannot send the browser elsewhere.
    std::string target = call.request.get_param_value("redirect");
    if (!isLocalPath(target))
        target = "/dashboard";
    response.set_header("Set-Cookie", std::string(sessionCookie) + "=" + session + "; Path=/; HttpOnly; SameSite=Lax; Max-Age="
                                          + std::to_string(static_cast<std::int64_t>(m_options.sessionIdleLifetime)));
    response.set_redirect(target, 303);
}

void MemoryService::ingest(const Call &call, httplib::Response &response)
{
    const auto &messages = member(call.body, "messages", &json::is_array, "an array of messages");
    const std::string source = member(call.body, "source", &json::is_string, "a string").get<std::string>();
    const auto tag = optionalString(call.body, "context_tag");
    std::string content;
    for (const auto &message : messages) {
        if (!message.is_object())
            throw RequestError(400, "every message must be an object");
        const auto &text = member(message, "content", &json::is_string, "a string").get_ref<const std::string &>();
        member(message, "role", &json::is_string, "a string");
        if (!content.empty())
            content += "\n\n";
        content += text;
    }
    if (content.empty())
        throw RequestError(400, "a memory needs some content");
    if (!isIncognito(*call.user, source)) {
        auto s = m_db.prepare("INSERT INTO memories (user_id, source, path, context_tag, content, content_hash, created_at, updated_at) "
                              "VALUES (?, ?, NULL, ?, ?, ?, ?, ?)");
        s.bind(1, call.user->id).bind(2, std::string_view(source)).bind(3, tag).bind(4, std::string_view(content))
            .bind(5, contentHash(content)).bind(6, now()).bind(7, now());
        s.run();
    }
    recordEvent(call.user->id, "ingest", 1);
    sendJson(response, {{"accepted", true}});
}

void MemoryService::import(const Call &call, httplib::Response &response)
{
    const std::string source = member(call.body, "source", &json::is_string, "a string").get<std::string>();
    const auto &files = member(call.body, "files", &json::is_array, "an array of files");
    if (m_options.testRoutes) { // routes run under m_lock already
        m_importLog.push_back({{"source", source}, {"files", files.size()}, {"failed", m_failingImports > 0}});
        if (m_failingImports > 0) {
            --m_failingImports;
            sendJson(response, {{"error", "failing on purpose"}}, 500);
            return;
        }
    }
    // Validate everything before storing anything.
    for (const auto &file : files) {
        if (!file.is_object())
            throw RequestError(400, "every file must be an object");
        member(file, "path", &json::is_string, "a string");
        member(file, "content", &json::is_string, "a string");
        optionalString(file, "context_tag");
    }
    if (isIncognito(*call.user, source)) {
        sendJson(response, {{"accepted", true}, {"files_queued", 0}, {"skipped_incognito", true}});
        return;
    }
    // Each upload of a file is its next increment; the same text sent again is stored once.
    auto same = m_db.prepare("SELECT content FROM memories WHERE user_id = ? AND source = ? AND path = ? AND content_hash = ?");
    auto insert = m_db.prepare(
        "INSERT INTO memories (user_id, source, path, context_tag, content, content_hash, created_at, updated_at) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    for (const auto &file : files) {
        const auto &path = file.at("path").get_ref<const std::string &>();
        const auto &content = file.at("content").get_ref<const std::string &>();
        const std::int64_t hash = contentHash(content);
        same.bind(1, call.user->id).bind(2, std::string_view(source)).bind(3, std::string_view(path)).bind(4, hash);
        bool stored = false;
        while (!stored && same.step())
            stored = same.view(0) == content;
        same.reset();
        if (stored)
            continue;
        insert.bind(1, call.user->id).bind(2, std::string_view(source)).bind(3, std::string_view(path))
            .bind(4, optionalString(file, "context_tag")).bind(5, std::string_view(content)).bind(6, hash).bind(7, now()).bind(8, now());
        insert.run();
        insert.reset();
    }
    recordEvent(call.user->id, "import", static_cast<std::int64_t>(files.size()));
    sendJson(response, {{"accepted", true}, {"files_queued", files.size()}, {"skipped_incognito", false}});
}

void MemoryService::stats(const Call &call, httplib::Response &response)
{
    const User &user = *call.user;
    auto totals = m_db.prepare("SELECT COUNT(*), COALESCE(SUM(LENGTH(content)), 0) FROM memories WHERE user_id = ?");
    totals.bind(1, user.id).step();
    const std::int64_t memories = totals.integer(0);
    const std::int64_t tokensSaved = totals.integer(1) / 4;
    auto files = m_db.prepare("SELECT COUNT(*) FROM (SELECT 1 FROM memories WHERE user_id = ? AND path IS NOT NULL GROUP BY source, path)");
    files.bind(1, user.id).step();
    const std::int64_t conversations = files.integer(0);
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

void MemoryService::profile(const Call &call, httplib::Response &response)
{
    const User &user = *call.user;
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

void MemoryService::settings(const Call &call, httplib::Response &response)
{
    json sources = json::array();
    auto s = m_db.prepare("SELECT source FROM incognito_sources WHERE user_id = ? ORDER BY source");
    s.bind(1, call.user->id);
    while (s.step())
        sources.push_back(s.text(0));
    json body = {{"incognito_global", call.user->incognitoGlobal}, {"incognito_sources", sources}, {"budget_preset", "balanced"}};
    if (call.user->email)
        body["email"] = *call.user->email;
    sendJson(response, body);
}

void MemoryService::dashboard(const Call &call, httplib::Response &response)
{
    const auto session = sessionFor(call.request);
    if (!session) {
        sendHtml(response, messagePage("Not signed in", "Open the dashboard from Quorral to sign in."), 401);
        return;
    }
    // Only the start of each text is read; the page shows no more of it.
    constexpr std::int64_t shown = 2000;
    auto s = m_db.prepare("SELECT source, path, context_tag, substr(content, 1, ?), length(content) > ?, created_at "
                          "FROM memories WHERE user_id = ? ORDER BY id");
    s.bind(1, shown).bind(2, shown).bind(3, session->user.id);
    std::map<std::pair<std::string, std::optional<std::string>>, std::size_t> index;
    std::vector<FileHistory> files;
    while (s.step()) {
        auto key = std::pair(s.text(0), s.optionalText(1));
        auto [at, added] = index.emplace(key, files.size());
        if (added)
            files.push_back({key.first, key.second, {}});
        files[at->second].increments.push_back({s.optionalText(2), s.text(3), s.integer(4) != 0, s.real(5)});
    }
    // The file that changed last comes first; its increments stay in the order they came.
    std::stable_sort(files.begin(), files.end(), [](const FileHistory &a, const FileHistory &b) {
        return a.increments.back().createdAt > b.increments.back().createdAt;
    });
    sendHtml(response, dashboardPage(session->user.displayName, files, session->formToken));
}

void MemoryService::settingsPageRoute(const Call &call, httplib::Response &response)
{
    const auto session = sessionFor(call.request);
    if (!session) {
        sendHtml(response, messagePage("Not signed in", "Open the settings from Quorral to sign in."), 401);
        return;
    }
    std::vector<std::pair<std::string, bool>> sources;
    for (const char *source : knownSources)
        sources.emplace_back(source, isIncognito(User{session->user.id, "", "", {}, "", false}, source));
    sendHtml(response, settingsPage(session->user.incognitoGlobal, sources, call.request.has_param("saved"), session->formToken));
}

void MemoryService::saveSettingsPage(const Call &call, httplib::Response &response)
{
    const auto session = sessionFor(call.request);
    if (!session) {
        sendHtml(response, messagePage("Not signed in", "Open the settings from Quorral to sign in."), 401);
        return;
    }
    checkFormToken(*session, call.request);
    const auto &request = call.request;
    const std::int64_t userId = session->user.id;
    m_db.prepare("UPDATE users SET incognito_global = ? WHERE id = ?")
        .bind(1, std::int64_t{request.has_param("incognito_global") ? 1 : 0}).bind(2, userId).run();
    m_db.prepare("DELETE FROM incognito_sources WHERE user_id = ?").bind(1, userId).run();
    const auto count = request.get_param_value_count("incognito_source");
    for (std::size_t i = 0; i < count; ++i) {
        m_db.prepare("INSERT OR IGNORE INTO incognito_sources (user_id, source) VALUES (?, ?)")
            .bind(1, userId).bind(2, std::string_view(request.get_param_value("incognito_source", i))).run();
    }
    response.set_redirect("/settings?saved=1", 303);
}

void MemoryService::logout(const Call &call, httplib::Response &response)
{
    const auto session = sessionFor(call.request);
    if (session) {
        checkFormToken(*session, call.request);
        m_db.prepare("DELETE FROM sessions WHERE token = ?").bind(1, std::string_view(session->token)).run();
    }
    response.set_header("Set-Cookie", std::string(sessionCookie) + "=; Path=/; HttpOnly; SameSite=Lax; Max-Age=0");
    sendHtml(response, messagePage("Signed out", "Open the dashboard from Quorral to sign in again."));
}

void MemoryService::registerRoutes(httplib::Server &server)
{
    server.set_payload_max_length(maxBodySize);
    // Headers and body go out in separate writes: without this, delayed ACKs add 40 ms.
    server.set_tcp_nodelay(true);
    // Refused before the body is read: a Host that is not this machine (a rebound DNS name),
    // a compressed body (it could unpack to far more than the limit), an oversized one.
    server.set_pre_routing_handler([](const httplib::Request &request, httplib::Response &response) {
        const auto refused = refusal(request);
        if (!refused)
            return httplib::Server::HandlerResponse::Unhandled;
        sendJson(response, {{"error", refused->second}}, refused->first);
        // The body, if any, is left unread: this connection carries nothing more.
        response.set_header("Connection", "close");
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_expect_100_continue_handler([](const httplib::Request &request, httplib::Response &response) {
        const auto refused = refusal(request);
        if (!refused)
            return 100;
        sendJson(response, {{"error", refused->second}}, refused->first);
        response.set_header("Connection", "close");
        return refused->first;
    });

    static const Route routes[] = {
        {"POST", "/api/v1/auth/device-login", Access::open, Body::json, &MemoryService::deviceLogin},
        {"GET", "/api/v1/auth/device-verify", Access::open, Body::none, &MemoryService::deviceVerify},
        {"POST", "/api/v1/auth/magic-login", Access::apiKey, Body::none, &MemoryService::magicLogin},
        {"POST", "/api/v1/ingest", Access::apiKey, Body::json, &MemoryService::ingest},
        {"POST", "/api/v1/import", Access::apiKey, Body::json, &MemoryService::import},
        {"GET", "/api/v1/stats", Access::apiKey, Body::none, &MemoryService::stats},
        {"GET", "/api/v1/profile", Access::apiKey, Body::none, &MemoryService::profile},
        {"GET", "/api/v1/settings", Access::apiKey, Body::none, &MemoryService::settings},
        {"GET", "/device", Access::open, Body::none, &MemoryService::devicePageRoute},
        {"POST", "/device/approve", Access::form, Body::none, &MemoryService::deviceApprove},
        {"GET", "/magic", Access::open, Body::none, &MemoryService::magicLink},
        {"GET", "/dashboard", Access::open, Body::none, &MemoryService::dashboard},
        {"GET", "/settings", Access::open, Body::none, &MemoryService::settingsPageRoute},
        {"POST", "/settings", Access::form, Body::none, &MemoryService::saveSettingsPage},
        {"POST", "/logout", Access::form, Body::none, &MemoryService::logout},
    };
    for (const auto &route : routes) {
        if (route.method == std::string_view("GET"))
            server.Get(route.pattern, handlerFor(route));
        else
            server.Post(route.pattern, handlerFor(route));
    }
    server.Get("/", [](const httplib::Request &, httplib::Response &r) { r.set_redirect("/dashboard", 303); });
    if (m_options.testRoutes)
        registerTestRoutes(server);
    server.set_exception_handler([](const httplib::Request &, httplib::Response &r, std::exception_ptr) {
        sendJson(r, {{"error", "internal error"}}, 500);
    });
}

void MemoryService::registerTestRoutes(httplib::Server &server)
{
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
        JsonBody script = parseJsonObject(q.body);
        std::lock_guard lock(m_lock);
        m_script = script.ok() ? std::move(script.value) : json::object();
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
    // The next `count` imports answer 500 (nothing stored); every import is logged.
    server.Post("/api/test/fail-imports", [this](const httplib::Request &q, httplib::Response &r) {
        JsonBody body = parseJsonObject(q.body);
        std::lock_guard lock(m_lock);
        m_failingImports = body.ok() ? body.value.value("count", 0) : 0;
        sendJson(r, {{"ok", true}});
    });
    server.Get("/api/test/imports", [this](const httplib::Request &, httplib::Response &r) {
        std::lock_guard lock(m_lock);
        sendJson(r, m_importLog);
    });
    server.Post("/api/test/fail-import", [](const httplib::Request &, httplib::Response &r) {
        r.status = 500;
        r.set_content("{\"error\":\"failing on purpose\"}", "application/json");
    });
}

} // namespace quorral::server
