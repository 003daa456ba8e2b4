#include "LocalServer.h"
#include "LoopbackSocket.h"
#include "ServicePages.h"
#include "Subprocess.h"
#include "TempHome.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using nlohmann::json;
using quorral::test::LocalServer;
using quorral::test::Subprocess;
using quorral::test::TempHome;
using testing::HasSubstr;
using testing::Not;
using Clock = std::chrono::steady_clock;

namespace {

// Sends raw bytes (as far as the service takes them) and returns the answer's status code,
// 0 when the connection closed without one.
int rawRequest(int port, const std::string &bytes)
{
    const int fd = quorral::test::connectLoopback(port);
    std::thread sender([&] {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
    });
    char buffer[32] = {};
    const ssize_t n = ::recv(fd, buffer, sizeof buffer - 1, MSG_WAITALL);
    ::shutdown(fd, SHUT_RDWR);
    sender.join();
    ::close(fd);
    return n > 12 ? std::atoi(buffer + 9) : 0;
}

long residentPeakMiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6)) / 1024;
    }
    return -1;
}

void runSql(const std::string &database, const std::string &sql)
{
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    char *error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

} // namespace

class MemoryServiceTest : public testing::Test {
protected:
    // A refused upload may find the connection closed while it is still writing.
    static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }

    TempHome home;
    std::unique_ptr<LocalServer> server = std::make_unique<LocalServer>(QUORRAL_SERVER_EXECUTABLE, home / "server.db", false);
    std::unique_ptr<httplib::Client> http = client();

    std::unique_ptr<httplib::Client> client()
    {
        auto c = std::make_unique<httplib::Client>("127.0.0.1", server->port());
        c->set_read_timeout(30);
        return c;
    }
    void restart()
    {
        server = std::make_unique<LocalServer>(QUORRAL_SERVER_EXECUTABLE, home / "server.db", false);
        http = client();
    }
    json startLogin() { return json::parse(http->Post("/api/v1/auth/device-login", R"({"device_type":"app"})", "application/json")->body); }
    static std::string userCode(const json &login)
    {
        const std::string url = login.at("login_url");
        return url.substr(url.find("user_code=") + 10);
    }
    int approve(const std::string &code) { return quorral::test::approveDeviceLogin(server->port(), code); }
    json verify(const json &login)
    {
        return json::parse(http->Get("/api/v1/auth/device-verify?code=" + login.at("device_code").get<std::string>())->body);
    }
    std::string newKey()
    {
        const json login = startLogin();
        approve(userCode(login));
        return verify(login).at("api_key");
    }
    httplib::Result call(const std::string &method, const std::string &path, const std::string &key, const std::string &body = "")
    {
        httplib::Headers headers;
        if (!key.empty())
            headers.emplace("X-Quorral-Key", key);
        if (method == "GET")
            return http->Get(path, headers);
        return http->Post(path, headers, body, "application/json");
    }
    std::string importBody(const std::string &source, const std::vector<std::pair<std::string, std::string>> &files)
    {
        json list = json::array();
        for (const auto &[path, content] : files)
            list.push_back({{"path", path}, {"content", content}, {"context_tag", "app"}});
        return json{{"source", source}, {"files", list}}.dump();
    }
    // Signs a browser session in through a magic link; returns its cookie.
    std::string browserSession(const std::string &key, const std::string &query = "")
    {
        const std::string link = json::parse(call("POST", "/api/v1/auth/magic-login", key)->body).at("login_url");
        const auto response = http->Get(link.substr(link.find("/magic")) + query);
        EXPECT_EQ(response->status, 303);
        const std::string cookie = response->get_header_value("Set-Cookie");
        return cookie.substr(0, cookie.find(';'));
    }
};

TEST_F(MemoryServiceTest, DeviceLoginHandsTheKeyOutOnceAndOnlyForTheSecretCode)
{
    const json login = startLogin();
    EXPECT_EQ(login.at("expires_in"), 600);
    const std::string code = userCode(login);
    EXPECT_THAT(code, testing::MatchesRegex("[A-Z]{4}-[A-Z]{4}"));
    EXPECT_EQ(login.at("login_url").get<std::string>().find(login.at("device_code").get<std::string>()), std::string::npos)
        << "the page address does not carry the device code";
    EXPECT_EQ(verify(login)["status"], "pending");

    const auto page = http->Get("/device?user_code=" + code);
    EXPECT_THAT(page->body, HasSubstr(code));
    EXPECT_THAT(page->body, HasSubstr("Approve"));
    EXPECT_THAT(page->body, Not(HasSubstr(login.at("device_code").get<std::string>())));
    // Polling with the user code gets nothing.
    EXPECT_EQ(json::parse(http->Get("/api/v1/auth/device-verify?code=" + code)->body)["status"], "expired");

    EXPECT_EQ(approve(code), 200);
    const json granted = verify(login);
    EXPECT_EQ(granted["status"], "granted");
    EXPECT_THAT(granted["api_key"].get<std::string>(), testing::MatchesRegex("qo_sk_[0-9a-f]{48}"));
    EXPECT_EQ(verify(login), (json{{"status", "expired"}})) << "a second poll after the grant";
    EXPECT_EQ(json::parse(http->Get("/api/v1/auth/device-verify?code=nonsense")->body)["status"], "expired");
    EXPECT_EQ(http->Get("/device?user_code=NOPE-NOPE")->status, 404);
}

TEST_F(MemoryServiceTest, RejectsMissingKeysBadJsonWrongTypesAndHugeBodies)
{
    const std::string key = newKey();
    struct Case {
        const char *path;
        std::string key;
        std::string body;
        int status;
    } cases[] = {
        {"/api/v1/stats", "", "", 401},
        {"/api/v1/stats", "qo_sk_wrong", "", 401},
        {"/api/v1/import", key, "{not json", 400},
        {"/api/v1/import", key, "[1,2]", 400},
        {"/api/v1/import", key, R"({"source":"cursor","files":"nope"})", 400},
        {"/api/v1/import", key, R"({"source":"cursor","files":[{"path":"/a","content":5}]})", 400},
        {"/api/v1/import", key, R"({"source":7,"files":[]})", 400},
        {"/api/v1/ingest", key, R"({"source":"manual","messages":[{"role":"user"}]})", 400},
        {"/api/v1/ingest", key, R"({"source":"manual","messages":[{"role":"user","content":"x"}],"context_tag":3})", 400},
        {"/api/v1/auth/device-login", "", "\xff\xfe", 400},
    };
    for (const auto &c : cases) {
        const auto response = call(c.path == std::string("/api/v1/stats") ? "GET" : "POST", c.path, c.key, c.body);
        ASSERT_TRUE(response) << c.path;
        EXPECT_EQ(response->status, c.status) << c.path << " " << c.body;
        EXPECT_TRUE(json::parse(response->body, nullptr, false).contains("error")) << response->body;
    }
    const auto huge = call("POST", "/api/v1/import", key, importBody("cursor", {{"/big", std::string(33u << 20, 'x')}}));
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->status, 413);
    // Still serving, nothing stored by the failures.
    EXPECT_EQ(json::parse(call("GET", "/api/v1/stats", key)->body)["total_memories"], 0);
}

TEST_F(MemoryServiceTest, ImportKeepsEveryIncrementStoresARepeatOnceAndAFailedRequestNothing)
{
    const std::string key = newKey();
    auto imported = json::parse(call("POST", "/api/v1/import", key, importBody("claude-code", {{"/a", "first a"}, {"/b", "b"}}))->body);
    EXPECT_EQ(imported, (json{{"accepted", true}, {"files_queued", 2}, {"skipped_incognito", false}}));
    call("POST", "/api/v1/import", key, importBody("claude-code", {{"/a", "second a"}}));
    // A batch sent again (a retry) and the same text twice in one batch add nothing.
    call("POST", "/api/v1/import", key, importBody("claude-code", {{"/a", "first a"}, {"/a", "second a"}, {"/b", "b"}}));
    call("POST", "/api/v1/import", key, importBody("claude-code", {{"/c", "twice"}, {"/c", "twice"}}));
    // The same text under another tool or another file is its own memory.
    call("POST", "/api/v1/import", key, importBody("cursor", {{"/a", "first a"}}));
    call("POST", "/api/v1/import", key, importBody("claude-code", {{"/d", "b"}}));
    // The second file is malformed: the whole request is refused and the first not stored.
    const auto bad = call("POST", "/api/v1/import", key,
                          R"({"source":"claude-code","files":[{"path":"/e","content":"e"},{"path":"/f"}]})");
    EXPECT_EQ(bad->status, 400);
    auto stats = json::parse(call("GET", "/api/v1/stats", key)->body);
    EXPECT_EQ(stats["total_memories"], 6);
    EXPECT_EQ(stats["total_conversations"], 5) << "claude-code /a /b /c /d and cursor /a";

    // Another account sees none of it; the history survives a restart.
    const std::string other = newKey();
    EXPECT_EQ(json::parse(call("GET", "/api/v1/stats", other)->body)["total_memories"], 0);
    restart();
    EXPECT_EQ(json::parse(call("GET", "/api/v1/stats", key)->body)["total_memories"], 6);

    call("POST", "/api/v1/import", key, importBody("claude-code", {{"/a", "third a"}}));
    const auto dashboard = http->Get("/dashboard", {{"Cookie", browserSession(key)}});
    ASSERT_EQ(dashboard->status, 200);
    const std::string &page = dashboard->body;
    const auto fileA = page.find("<h2>claude-code · /a</h2>");
    ASSERT_NE(fileA, std::string::npos) << page;
    EXPECT_LT(fileA, page.find("<h2>cursor · /a</h2>")) << "the file that changed last comes first";
    const auto first = page.find("first a", fileA), second = page.find("second a", fileA), third = page.find("third a", fileA);
    EXPECT_LT(first, second);
    EXPECT_LT(second, third) << "a file's increments in the order they came";
    EXPECT_LT(third, page.find("<h2>", fileA + 1)) << "all three under the file's heading";
    EXPECT_THAT(page, HasSubstr("7 memories in 5 files"));
}

TEST_F(MemoryServiceTest, ADatabaseOfTheEarlierLayoutIsMigratedWithItsMemories)
{
    server.reset();
    const std::string database = home / "old.db";
    // The layout before history was kept: one row per file, sessions without form tokens.
    runSql(database, R"sql(
        CREATE TABLE users (id INTEGER PRIMARY KEY, api_key TEXT NOT NULL UNIQUE, display_name TEXT NOT NULL,
            email TEXT, referral_code TEXT NOT NULL, incognito_global INTEGER NOT NULL DEFAULT 0, created_at REAL NOT NULL);
        CREATE TABLE incognito_sources (user_id INTEGER NOT NULL REFERENCES users(id), source TEXT NOT NULL,
            PRIMARY KEY (user_id, source));
        CREATE TABLE memories (id INTEGER PRIMARY KEY, user_id INTEGER NOT NULL REFERENCES users(id), source TEXT NOT NULL,
            path TEXT, context_tag TEXT, content TEXT NOT NULL, created_at REAL NOT NULL, updated_at REAL NOT NULL,
            UNIQUE (user_id, source, path));
        CREATE TABLE device_codes (device_code TEXT PRIMARY KEY, user_code TEXT NOT NULL UNIQUE, expires_at REAL NOT NULL,
            user_id INTEGER, state TEXT NOT NULL);
        CREATE TABLE magic_links (token TEXT PRIMARY KEY, user_id INTEGER NOT NULL, expires_at REAL NOT NULL);
        CREATE TABLE sessions (token TEXT PRIMARY KEY, user_id INTEGER NOT NULL, created_at REAL NOT NULL);
        CREATE TABLE events (user_id INTEGER NOT NULL, kind TEXT NOT NULL, at REAL NOT NULL, count INTEGER NOT NULL);
        INSERT INTO users VALUES (1, 'qo_sk_old', 'Old user', NULL, 'abcd', 0, 1700000000);
        INSERT INTO memories VALUES (1, 1, 'cursor', '/kept', 'app', 'kept from before', 1700000000, 1700000000);
        INSERT INTO memories VALUES (2, 1, 'manual', NULL, NULL, 'typed before', 1700000001, 1700000001);
        INSERT INTO sessions VALUES ('oldsession', 1, strftime('%s', 'now'));
    )sql");
    for (int start = 0; start < 2; ++start) {
        server = std::make_unique<LocalServer>(QUORRAL_SERVER_EXECUTABLE, database, false);
        http = client();
        if (start == 0) {
            call("POST", "/api/v1/import", "qo_sk_old", importBody("cursor", {{"/kept", "kept from before"}}));
            call("POST", "/api/v1/import", "qo_sk_old", importBody("cursor", {{"/kept", "added after"}}));
        }
        EXPECT_EQ(json::parse(call("GET", "/api/v1/stats", "qo_sk_old")->body)["total_memories"], 3) << "start " << start;
    }
    // The session from before still works and its forms get a token.
    const auto page = http->Get("/settings", {{"Cookie", "quorral_session=oldsession"}});
    ASSERT_EQ(page->status, 200);
    EXPECT_EQ(quorral::test::formToken(page->body).size(), 48u);
    const auto dashboard = http->Get("/dashboard", {{"Cookie", "quorral_session=oldsession"}});
    EXPECT_LT(dashboard->body.find("kept from before"), dashboard->body.find("added after"));
}

TEST_F(MemoryServiceTest, ProfileAndStatsGrowWithTheMemories)
{
    const std::string key = newKey();
    auto profile = json::parse(call("GET", "/api/v1/profile", key)->body);
    EXPECT_EQ(profile["level"], 1);
    EXPECT_EQ(profile["xp_next_level"], 10);
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < 12; ++i)
        files.emplace_back("/f" + std::to_string(i), "content " + std::to_string(i));
    call("POST", "/api/v1/import", key, importBody("cursor", files));
    call("POST", "/api/v1/ingest", key, R"({"source":"manual","messages":[{"role":"user","content":"remember me"}]})");
    profile = json::parse(call("GET", "/api/v1/profile", key)->body);
    EXPECT_EQ(profile["memory_count"], 13);
    EXPECT_EQ(profile["level"], 2);
    EXPECT_EQ(profile["xp"], 13);
    EXPECT_EQ(profile["xp_current_level"], 10);
    const auto stats = json::parse(call("GET", "/api/v1/stats", key)->body);
    EXPECT_EQ(stats["today"]["new_memories"], 13);
    EXPECT_EQ(stats["today"]["ingests"], 2);
    EXPECT_EQ(stats["ingest_calls"], 2);
}

TEST_F(MemoryServiceTest, SettingsPageSwitchesIncognitoAndTheMagicLinkWorksOnce)
{
    const std::string key = newKey();
    const std::string link = json::parse(call("POST", "/api/v1/auth/magic-login", key)->body).at("login_url");
    const std::string path = link.substr(link.find("/magic"));
    const auto first = http->Get(path + "&redirect=/settings");
    EXPECT_EQ(first->status, 303);
    EXPECT_EQ(first->get_header_value("Location"), "/settings");
    EXPECT_EQ(http->Get(path)->status, 403) << "one use only";
    const std::string elsewhere = browserSession(key, "&redirect=//evil.example/");
    EXPECT_FALSE(elsewhere.empty());

    const std::string cookie = first->get_header_value("Set-Cookie").substr(0, first->get_header_value("Set-Cookie").find(';'));
    EXPECT_EQ(http->Get("/settings")->status, 401) << "no cookie, no page";
    const auto saved = quorral::test::submitForm(server->port(), "/settings", "/settings", cookie,
                                                 "incognito_source=cursor&incognito_source=trae");
    EXPECT_EQ(saved->status, 303);
    auto settings = json::parse(call("GET", "/api/v1/settings", key)->body);
    EXPECT_EQ(settings["incognito_global"], false);
    EXPECT_EQ(settings["incognito_sources"], (json{"cursor", "trae"}));

    const auto skipped = json::parse(call("POST", "/api/v1/import", key, importBody("cursor", {{"/x", "secret"}}))->body);
    EXPECT_EQ(skipped["skipped_incognito"], true);
    EXPECT_EQ(json::parse(call("GET", "/api/v1/stats", key)->body)["total_memories"], 0);

    quorral::test::submitForm(server->port(), "/settings", "/settings", cookie, "incognito_global=1");
    settings = json::parse(call("GET", "/api/v1/settings", key)->body);
    EXPECT_EQ(settings["incognito_global"], true);
    EXPECT_EQ(settings["incognito_sources"], json::array());
    EXPECT_EQ(json::parse(call("POST", "/api/v1/import", key, importBody("claude-code", {{"/y", "also secret"}}))->body)["skipped_incognito"], true);
}

TEST_F(MemoryServiceTest, StoredTextIsEscapedOnThePages)
{
    const std::string key = newKey();
    call("POST", "/api/v1/import", key, importBody("cursor", {{"/<b>path", "<script>alert(1)</script>"}}));
    const auto page = http->Get("/dashboard", {{"Cookie", browserSession(key)}});
    EXPECT_THAT(page->body, Not(HasSubstr("<script>alert")));
    EXPECT_THAT(page->body, HasSubstr("&lt;script&gt;alert(1)&lt;/script&gt;"));
    EXPECT_THAT(page->body, HasSubstr("/&lt;b&gt;path"));
}

TEST_F(MemoryServiceTest, HostileRequestsAreRefusedBeforeTheyCostMemory)
{
    const std::string key = newKey();
    const std::string host = "Host: 127.0.0.1:" + std::to_string(server->port()) + "\r\n";
    const auto post = [&](const std::string &headers, const std::string &body) {
        return "POST /api/v1/import HTTP/1.1\r\n" + host + "X-Quorral-Key: " + key + "\r\nContent-Type: application/json\r\n"
            + headers + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    std::string manyFields = "GET /api/v1/stats HTTP/1.1\r\n" + host + "X-Quorral-Key: " + key + "\r\n";
    for (int i = 0; i < 200; ++i)
        manyFields += "X-Field-" + std::to_string(i) + ": x\r\n";
    std::string wide = "[0";
    while (wide.size() < (31u << 20))
        wide += ",0";
    wide += "]";
    std::string endless = "POST /api/v1/import HTTP/1.1\r\n" + host + "X-Quorral-Key: " + key + "\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string chunk = "100000\r\n" + std::string(1u << 20, 'x') + "\r\n";
    for (int i = 0; i < 40; ++i)
        endless += chunk;
    struct Case {
        const char *what;
        std::string request;
        int status;
    } cases[] = {
        {"nesting of 65", post("", "{\"source\":" + std::string(64, '[') + std::string(64, ']') + "}"), 400},
        {"nesting of 65 inside strings is text", post("", R"({"source":"[[[[","files":[]})"), 200},
        {"a 31 MiB array of zeros", post("", wide), 400},
        {"a compressed body", post("Content-Encoding: gzip\r\n", "\x1f\x8b"), 415},
        {"a transfer encoding other than chunked", post("Transfer-Encoding: gzip\r\n", "{}"), 501},
        {"a declared length over 32 MiB, nothing sent", post("", "").replace(post("", "").find("Content-Length: 0"), 17, "Content-Length: 40000000"), 413},
        {"a chunked body over 32 MiB", endless, 413},
        {"200 header fields", manyFields + "\r\n", 431},
        {"a header of 40 KiB", "GET /api/v1/stats HTTP/1.1\r\n" + host + "X-Big: " + std::string(40 << 10, 'b') + "\r\n\r\n", 431},
        {"another host name", "GET /api/v1/stats HTTP/1.1\r\nHost: rebound.example:8787\r\nX-Quorral-Key: " + key + "\r\n\r\n", 421},
        {"a loopback name with a port", "GET /api/v1/stats HTTP/1.1\r\nHost: localhost:1\r\nX-Quorral-Key: " + key + "\r\n\r\n", 200},
        {"[::1]", "GET /api/v1/stats HTTP/1.1\r\nHost: [::1]\r\nX-Quorral-Key: " + key + "\r\n\r\n", 200},
        {"no host", "GET /api/v1/stats HTTP/1.1\r\nX-Quorral-Key: " + key + "\r\n\r\n", 421},
    };
    for (const auto &c : cases)
        EXPECT_EQ(rawRequest(server->port(), c.request), c.status) << c.what;
    EXPECT_LT(residentPeakMiB(server->pid()), 200) << "peak resident memory of the service, MiB";
    EXPECT_EQ(call("GET", "/api/v1/stats", key)->status, 200) << "still serving";
}

TEST_F(MemoryServiceTest, IdleAndSlowConnectionsDoNotHoldUpANormalRequest)
{
    const std::string key = newKey();
    std::vector<int> idle;
    for (int i = 0; i < 40; ++i)
        idle.push_back(quorral::test::connectLoopback(server->port()));
    // A client dribbling its header, a byte now and then.
    const int slow = quorral::test::connectLoopback(server->port());
    ::send(slow, "GET /api/v1/stats HTTP/1.1\r\nX-Slow: ", 36, MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (int i = 0; i < 3; ++i) {
        httplib::Client fresh("127.0.0.1", server->port());
        const auto start = Clock::now();
        const auto response = fresh.Get("/api/v1/settings", {{"X-Quorral-Key", key}});
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        ASSERT_TRUE(response);
        EXPECT_EQ(response->status, 200);
        EXPECT_LT(took.count(), 100) << "with 41 connections doing nothing";
    }
    for (int fd : idle)
        ::close(fd);
    ::close(slow);
}

TEST(MemoryServiceProcess, ARequestThatDoesNotArriveInTimeIsAnsweredWith408)
{
    TempHome home;
    Subprocess server({QUORRAL_SERVER_EXECUTABLE, "--port", "0", "--db", home / "server.db", "--request-timeout", "1"}, {});
    const auto line = server.readLine();
    ASSERT_TRUE(line);
    const int port = std::stoi(line->substr(line->find("127.0.0.1:") + 10));
    const int fd = quorral::test::connectLoopback(port);
    const auto start = Clock::now();
    char buffer[32] = {};
    for (const char c : std::string("GET /api/v1/stats HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: abcdefghijklmnopqrstuvwxyz")) {
        if (::send(fd, &c, 1, MSG_NOSIGNAL) != 1 || ::recv(fd, buffer, sizeof buffer - 1, MSG_DONTWAIT) > 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (buffer[0] == '\0')
        ::recv(fd, buffer, sizeof buffer - 1, 0);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    ::close(fd);
    EXPECT_THAT(std::string(buffer), testing::StartsWith("HTTP/1.1 408"));
    EXPECT_GE(took.count(), 900);
    EXPECT_LT(took.count(), 3000) << "the deadline is for the whole request, not for each byte";
}

TEST(MemoryServiceProcess, ASecondInstanceOnATakenPortExitsWithAMessage)
{
    TempHome home;
    LocalServer first(QUORRAL_SERVER_EXECUTABLE, home / "first.db", false);
    Subprocess second({QUORRAL_SERVER_EXECUTABLE, "--port", std::to_string(first.port()), "--db", home / "second.db"}, {});
    EXPECT_EQ(second.wait(), 1);
    EXPECT_THAT(second.errorOutput(), HasSubstr("cannot listen on 127.0.0.1:" + std::to_string(first.port())));
    EXPECT_FALSE(std::filesystem::exists(home / "second.db")) << "stopped before opening its database";
    httplib::Client http("127.0.0.1", first.port());
    EXPECT_EQ(http.Post("/api/v1/auth/device-login", "{}", "application/json")->status, 200) << "the first still answers";
}

TEST(MemoryServiceProcess, ItsDirectoryAndFilesAreTheOwnersAlone)
{
    TempHome home;
    const std::string database = home / "data/quorral/server.db";
    {
        LocalServer server(QUORRAL_SERVER_EXECUTABLE, database, false);
        httplib::Client http("127.0.0.1", server.port());
        ASSERT_EQ(http.Post("/api/v1/auth/device-login", "{}", "application/json")->status, 200);
        const auto mode = [](const std::string &path) {
            struct stat info {};
            return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
        };
        EXPECT_EQ(mode(home / "data"), 0700);
        EXPECT_EQ(mode(home / "data/quorral"), 0700);
        for (const char *suffix : {"", "-wal", "-shm"})
            EXPECT_EQ(mode(database + suffix), 0600) << database + suffix;
    }
    // A file an earlier version left readable is made private at the next start.
    ::chmod(database.c_str(), 0644);
    LocalServer again(QUORRAL_SERVER_EXECUTABLE, database, false);
    struct stat info {};
    ::stat(database.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(MemoryServiceTest, FormsNeedTheirTokenAndTheirOwnOrigin)
{
    const std::string own = "http://127.0.0.1:" + std::to_string(server->port());
    const std::string code = userCode(startLogin());
    const auto page = http->Get("/device?user_code=" + code);
    const std::string cookie = quorral::test::cookiesSetBy(*page);
    const std::string token = quorral::test::formToken(page->body);
    ASSERT_EQ(token.size(), 48u);
    struct Case {
        const char *what;
        httplib::Headers headers;
        std::string form;
        int status;
    } approvals[] = {
        {"no token", {{"Cookie", cookie}}, "user_code=" + code, 403},
        {"no cookie", {}, "user_code=" + code + "&csrf_token=" + token, 403},
        {"another token", {{"Cookie", cookie}}, "user_code=" + code + "&csrf_token=" + std::string(48, '0'), 403},
        {"another origin", {{"Cookie", cookie}, {"Origin", "http://evil.example"}}, "user_code=" + code + "&csrf_token=" + token, 403},
        {"an opaque origin", {{"Cookie", cookie}, {"Origin", "null"}}, "user_code=" + code + "&csrf_token=" + token, 403},
        {"a look-alike origin", {{"Cookie", cookie}, {"Origin", own + ".evil.example"}}, "user_code=" + code + "&csrf_token=" + token, 403},
        {"another referer", {{"Cookie", cookie}, {"Referer", "http://evil.example/page"}}, "user_code=" + code + "&csrf_token=" + token, 403},
        {"its own page", {{"Cookie", cookie}, {"Referer", own + "/device?user_code=" + code}}, "user_code=" + code + "&csrf_token=" + token, 200},
    };
    for (const auto &c : approvals) {
        const auto response = http->Post("/device/approve", c.headers, c.form, "application/x-www-form-urlencoded");
        ASSERT_TRUE(response) << c.what;
        EXPECT_EQ(response->status, c.status) << c.what;
        if (c.status == 403) {
            EXPECT_EQ(http->Get("/device?user_code=" + code)->body.find("id=\"done\""), std::string::npos) << c.what << " approved it";
        }
    }

    const std::string key = newKey();
    const std::string session = browserSession(key);
    const auto settings = http->Get("/settings", {{"Cookie", session}});
    const std::string settingsToken = quorral::test::formToken(settings->body);
    EXPECT_EQ(http->Post("/settings", {{"Cookie", session}}, "incognito_global=1", "application/x-www-form-urlencoded")->status, 403);
    EXPECT_EQ(http->Post("/settings", {{"Cookie", session}, {"Origin", "http://evil.example"}},
                         "incognito_global=1&csrf_token=" + settingsToken, "application/x-www-form-urlencoded")->status, 403);
    // Another session's token does not pass for this one.
    const std::string otherToken = quorral::test::formToken(http->Get("/settings", {{"Cookie", browserSession(key)}})->body);
    EXPECT_NE(otherToken, settingsToken);
    EXPECT_EQ(http->Post("/settings", {{"Cookie", session}}, "incognito_global=1&csrf_token=" + otherToken,
                         "application/x-www-form-urlencoded")->status, 403);
    EXPECT_EQ(json::parse(call("GET", "/api/v1/settings", key)->body)["incognito_global"], false) << "nothing was saved";
    EXPECT_EQ(http->Post("/settings", {{"Cookie", session}, {"Origin", own}}, "incognito_global=1&csrf_token=" + settingsToken,
                         "application/x-www-form-urlencoded")->status, 303);
    EXPECT_EQ(json::parse(call("GET", "/api/v1/settings", key)->body)["incognito_global"], true);
}

TEST_F(MemoryServiceTest, SessionsAreFoundByTheirExactCookieAndEndIdleOrAtLogout)
{
    const std::string key = newKey();
    const std::string session = browserSession(key); // "quorral_session=TOKEN"
    const std::string token = session.substr(session.find('=') + 1);
    struct Case {
        std::string cookie;
        int status;
    } cookies[] = {
        {session, 200},
        {"theme=dark; " + session + "; lang=en", 200},
        {"xquorral_session=" + token, 401},
        {"quorral_session_old=" + token, 401},
        {"other=quorral_session=" + token, 401},
        {"quorral_session=", 401},
    };
    for (const auto &c : cookies)
        EXPECT_EQ(http->Get("/dashboard", {{"Cookie", c.cookie}})->status, c.status) << c.cookie;

    // Used 29 days ago: still good, and its use counts. 31 days idle: gone.
    runSql(home / "server.db", "UPDATE sessions SET last_seen = strftime('%s', 'now') - 29 * 86400");
    EXPECT_EQ(http->Get("/dashboard", {{"Cookie", session}})->status, 200);
    EXPECT_EQ(http->Get("/dashboard", {{"Cookie", session}})->status, 200);
    runSql(home / "server.db", "UPDATE sessions SET last_seen = strftime('%s', 'now') - 31 * 86400");
    EXPECT_EQ(http->Get("/dashboard", {{"Cookie", session}})->status, 401);

    const std::string fresh = browserSession(key);
    const auto out = quorral::test::submitForm(server->port(), "/dashboard", "/logout", fresh, "");
    ASSERT_TRUE(out);
    EXPECT_EQ(out->status, 200);
    EXPECT_THAT(out->get_header_value("Set-Cookie"), HasSubstr("Max-Age=0"));
    EXPECT_EQ(http->Get("/dashboard", {{"Cookie", fresh}})->status, 401) << "the session ended at logout";
}

TEST_F(MemoryServiceTest, TheMagicLinkFollowsOnlyALocalPath)
{
    const std::string key = newKey();
    const struct {
        const char *redirect; // as sent in the query, already encoded
        const char *location;
    } cases[] = {
        {"/settings", "/settings"},
        {"/settings%3Fsaved%3D1", "/settings?saved=1"},
        {"", "/dashboard"},
        {"//evil.example/", "/dashboard"},
        {"/%5Cevil.example", "/dashboard"},
        {"%5C%5Cevil.example", "/dashboard"},
        {"https://evil.example/", "/dashboard"},
        {"settings", "/dashboard"},
        {"/a//b", "/dashboard"},
        {"/x%0D%0ASet-Cookie:%20a=b", "/dashboard"},
        {"/x%09y", "/dashboard"},
    };
    for (const auto &c : cases) {
        const std::string link = json::parse(call("POST", "/api/v1/auth/magic-login", key)->body).at("login_url");
        const auto response = http->Get(link.substr(link.find("/magic")) + "&redirect=" + c.redirect);
        ASSERT_TRUE(response) << c.redirect;
        EXPECT_EQ(response->status, 303) << c.redirect;
        EXPECT_EQ(response->get_header_value("Location"), c.location) << c.redirect;
    }
}
