#include "LocalServer.h"
#include "TempHome.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using nlohmann::json;
using quorral::test::LocalServer;
using quorral::test::TempHome;
using testing::HasSubstr;
using testing::Not;

class MemoryServiceTest : public testing::Test {
protected:
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
    int approve(const std::string &code)
    {
        return http->Post("/device/approve", "user_code=" + code, "application/x-www-form-urlencoded")->status;
    }
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

TEST_F(MemoryServiceTest, ImportStoresDeduplicatesAndAFailedRequestStoresNothing)
{
    const std::string key = newKey();
    auto imported = json::parse(call("POST", "/api/v1/import", key, importBody("claude-code", {{"/a", "old a"}, {"/b", "b"}}))->body);
    EXPECT_EQ(imported, (json{{"accepted", true}, {"files_queued", 2}, {"skipped_incognito", false}}));
    call("POST", "/api/v1/import", key, importBody("claude-code", {{"/a", "new a"}}));
    call("POST", "/api/v1/import", key, importBody("cursor", {{"/a", "same path, other tool"}}));
    // The second file is malformed: the whole request is refused and the first not stored.
    const auto bad = call("POST", "/api/v1/import", key,
                          R"({"source":"claude-code","files":[{"path":"/c","content":"c"},{"path":"/d"}]})");
    EXPECT_EQ(bad->status, 400);
    const auto stats = json::parse(call("GET", "/api/v1/stats", key)->body);
    EXPECT_EQ(stats["total_memories"], 3);
    EXPECT_EQ(stats["total_conversations"], 3);

    // Another account sees none of it; the data survives a restart.
    const std::string other = newKey();
    EXPECT_EQ(json::parse(call("GET", "/api/v1/stats", other)->body)["total_memories"], 0);
    restart();
    EXPECT_EQ(json::parse(call("GET", "/api/v1/stats", key)->body)["total_memories"], 3);

    const std::string cookie = browserSession(key);
    const auto dashboard = http->Get("/dashboard", {{"Cookie", cookie}});
    ASSERT_EQ(dashboard->status, 200);
    const auto newest = dashboard->body.find("same path, other tool");
    const auto older = dashboard->body.find("new a");
    EXPECT_NE(newest, std::string::npos);
    EXPECT_LT(newest, older) << "newest first";
    EXPECT_THAT(dashboard->body, Not(HasSubstr("old a")));
    EXPECT_THAT(dashboard->body, HasSubstr("claude-code · /a · app"));
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
    const auto saved = http->Post("/settings", {{"Cookie", cookie}}, "incognito_source=cursor&incognito_source=trae",
                                  "application/x-www-form-urlencoded");
    EXPECT_EQ(saved->status, 303);
    auto settings = json::parse(call("GET", "/api/v1/settings", key)->body);
    EXPECT_EQ(settings["incognito_global"], false);
    EXPECT_EQ(settings["incognito_sources"], (json{"cursor", "trae"}));

    const auto skipped = json::parse(call("POST", "/api/v1/import", key, importBody("cursor", {{"/x", "secret"}}))->body);
    EXPECT_EQ(skipped["skipped_incognito"], true);
    EXPECT_EQ(json::parse(call("GET", "/api/v1/stats", key)->body)["total_memories"], 0);

    http->Post("/settings", {{"Cookie", cookie}}, "incognito_global=1", "application/x-www-form-urlencoded");
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
