#include "LocalServer.h"
#include "ServicePages.h"
#include "LogGenerator.h"
#include "Subprocess.h"
#include "TempHome.h"
#include "io/ReadFile.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

using quorral::test::LocalServer;
using quorral::test::Subprocess;
using quorral::test::TempHome;
using testing::HasSubstr;

class ServiceCommands : public testing::Test {
protected:
    TempHome home;
    LocalServer server{QUORRAL_SERVER_EXECUTABLE, home / "server.db", false};

    std::map<std::string, std::string> environment() const
    {
        return {{"HOME", home.path() + "/user"},
                {"XDG_CONFIG_HOME", home.path() + "/user/.config"},
                {"QUORRAL_API_URL", server.origin() + "/api"},
                {"DISPLAY", ""}};
    }
    int run(const std::vector<std::string> &args, std::string *out = nullptr, std::string *err = nullptr)
    {
        std::vector<std::string> all{QUORRAL_EXECUTABLE};
        all.insert(all.end(), args.begin(), args.end());
        Subprocess process(all, environment());
        const int status = process.wait();
        if (out)
            *out = process.output();
        if (err)
            *err = process.errorOutput();
        return status;
    }
    // What the dashboard shows to the signed-in user.
    std::string dashboard() const
    {
        const auto key = quorral::io::readWholeFile(home.path() + "/user/.quorral/credentials");
        if (!key)
            return {};
        httplib::Client http("127.0.0.1", server.port());
        const auto magic = http.Post("/api/v1/auth/magic-login", {{"X-Quorral-Key", *key}}, "", "application/json");
        if (!magic || magic->status != 200)
            return {};
        const std::string link = nlohmann::json::parse(magic->body)["login_url"].get<std::string>();
        const auto signedIn = http.Get(link.substr(link.find("/magic")));
        if (!signedIn)
            return {};
        const std::string setCookie = signedIn->get_header_value("Set-Cookie");
        const auto page = http.Get("/dashboard", {{"Cookie", setCookie.substr(0, setCookie.find(';'))}});
        return page ? page->body : std::string();
    }
    // Signs in as a user would: open the printed page and press Approve.
    void login()
    {
        Subprocess process({QUORRAL_EXECUTABLE, "login"}, environment());
        const auto line = process.readLine();
        ASSERT_TRUE(line) << process.errorOutput();
        ASSERT_THAT(*line, HasSubstr("/device?user_code="));
        const auto code = line->substr(line->find("user_code=") + 10);
        ASSERT_EQ(quorral::test::approveDeviceLogin(server.port(), code), 200);
        EXPECT_EQ(process.wait(), 0) << process.errorOutput();
        EXPECT_THAT(process.output(), HasSubstr("Signed in (key qo_sk_"));
    }
};

TEST_F(ServiceCommands, LoginSyncRememberStatusLogout)
{
    quorral::loggen::HomeSpec spec;
    spec.claudeBytes = 1u << 20;
    quorral::loggen::LogGenerator(2).populateHome(home.path() + "/user", spec);

    std::string out, err;
    EXPECT_EQ(run({"status"}, &out, &err), 1);
    EXPECT_THAT(err, HasSubstr("not signed in; run `quorral login`"));
    EXPECT_EQ(run({"sync"}, &out, &err), 1);
    EXPECT_THAT(err, HasSubstr("not signed in"));

    login();
    ASSERT_EQ(run({"sync"}, &out, &err), 0) << err;
    EXPECT_THAT(err, HasSubstr("Scanning Claude Code…\n")) << "progress goes to standard error";
    EXPECT_THAT(out, testing::MatchesRegex("Scanned 8 tools: [0-9]+ files uploaded, about [0-9]+ new conversations\\.\n"));
    ASSERT_EQ(run({"sync"}, &out), 0);
    EXPECT_EQ(out, "Scanned 8 tools: nothing new uploaded.\n") << "the tracker persisted between runs";

    EXPECT_EQ(run({"remember", "I", "prefer", "short", "answers"}, &out), 0);
    EXPECT_THAT(out, HasSubstr("Remembered."));
    EXPECT_EQ(run({"remember", "--", ""}, &out, &err), 2);
    Subprocess piped({QUORRAL_EXECUTABLE, "remember"}, environment(), true);
    piped.writeInput("I indent with tabs\nin every project\n");
    piped.closeInput();
    EXPECT_EQ(piped.wait(), 0) << piped.errorOutput();
    EXPECT_THAT(piped.output(), HasSubstr("Remembered."));

    ASSERT_EQ(run({"status"}, &out, &err), 0) << err;
    EXPECT_THAT(out, HasSubstr("Signed in as Local user 1"));
    EXPECT_THAT(out, HasSubstr("Last sync from this machine: "));

    EXPECT_EQ(run({"logout"}, &out), 0);
    EXPECT_EQ(run({"status"}, &out), 1);
}

TEST_F(ServiceCommands, ConfigureConnectsToolsAndBrowsersAndLogoutTakesTheBlocksOut)
{
    const std::string user = home.path() + "/user";
    std::filesystem::create_directories(user + "/.config/chromium");
    login();
    std::string out, err;
    ASSERT_EQ(run({"configure"}, &out, &err), 0) << out << err;
    EXPECT_EQ(err, "");
    EXPECT_THAT(out, HasSubstr("ok      Cursor connected  (restart the tool to pick it up)\n"));
    EXPECT_THAT(out, HasSubstr("ok      Codex rules written\n"));
    EXPECT_THAT(out, HasSubstr("ok      Chromium extension host installed\n"));

    const auto key = quorral::io::readWholeFile(user + "/.quorral/credentials").value();
    const auto mcp = nlohmann::json::parse(quorral::io::readWholeFile(user + "/.trae/mcp.json").value());
    EXPECT_EQ(mcp["mcpServers"]["quorral"]["env"]["QUORRAL_API_KEY"], key);
    const auto manifest = nlohmann::json::parse(
        quorral::io::readWholeFile(user + "/.config/chromium/NativeMessagingHosts/com.quorral.native.json").value());
    EXPECT_EQ(manifest["path"], std::filesystem::canonical(QUORRAL_EXECUTABLE).string());

    ASSERT_EQ(run({"unconfigure"}, &out), 0);
    EXPECT_EQ(quorral::io::readWholeFile(user + "/.claude/CLAUDE.md"), "");
    ASSERT_EQ(run({"configure"}, &out), 0);
    EXPECT_TRUE(quorral::io::exists(user + "/.cursor/rules/quorral.mdc"));
    ASSERT_EQ(run({"logout"}, &out), 0);
    EXPECT_FALSE(quorral::io::exists(user + "/.cursor/rules/quorral.mdc"));
    EXPECT_EQ(quorral::io::readWholeFile(user + "/.windsurfrules"), "");
}

TEST_F(ServiceCommands, InterruptedLoginExitsCleanly)
{
    Subprocess process({QUORRAL_EXECUTABLE, "login"}, environment());
    ASSERT_TRUE(process.readLine()); // the page to open
    process.signal(SIGINT);
    EXPECT_EQ(process.wait(), 130);
    EXPECT_THAT(process.errorOutput(), HasSubstr("Login cancelled."));
}

TEST_F(ServiceCommands, UnusableServiceAddressOrUnreachableServiceSayWhatFailed)
{
    auto env = environment();
    env["QUORRAL_API_URL"] = "ftp:/nowhere";
    Subprocess bad({QUORRAL_EXECUTABLE, "status"}, env);
    EXPECT_EQ(bad.wait(), 2);
    EXPECT_THAT(bad.errorOutput(), HasSubstr("QUORRAL_API_URL"));

    // An address without /api: the error names the address that was tried.
    env["QUORRAL_API_URL"] = server.origin();
    Subprocess withoutApi({QUORRAL_EXECUTABLE, "login"}, env);
    EXPECT_EQ(withoutApi.wait(), 1);
    EXPECT_THAT(withoutApi.errorOutput(), HasSubstr("sign-in failed: the service has no page at " + server.origin() + "/"));
    EXPECT_THAT(withoutApi.errorOutput(), HasSubstr("(404); the API address usually ends in /api"));

    login();
    const std::string log = home.write("user/.claude/projects/-p-app/s.jsonl",
                                       std::string(250, '\n') +
                                           R"({"type":"user","message":{"content":"a question worth keeping"}})" "\n");
    server.stop();
    std::string out, err;
    EXPECT_EQ(run({"status"}, &out, &err), 1);
    EXPECT_THAT(err, HasSubstr("cannot read the account: cannot reach the memory service at " + server.origin() + "/api"));
    EXPECT_EQ(run({"sync"}, &out, &err), 1);
    EXPECT_THAT(err, HasSubstr("1 of 1 files were not uploaded to " + server.origin() + "/api (1 failed"));

    // The service is back: status lists what the failed sync left.
    LocalServer back(QUORRAL_SERVER_EXECUTABLE, home / "server.db", false, server.port());
    ASSERT_EQ(run({"status"}, &out, &err), 0) << err;
    EXPECT_THAT(out, HasSubstr("Files the last sync did not upload (1):\n  failed, sent again  claude-code  " + log + "\n"));

    // A key the service does not know: sign in again.
    std::ofstream(home.path() + "/user/.quorral/credentials", std::ios::trunc) << "qo_sk_0000000000000000000000000000";
    EXPECT_EQ(run({"status"}, &out, &err), 1);
    EXPECT_THAT(err, HasSubstr("refused the stored key (401); run `quorral login` to sign in again"));
    back.stop();
    EXPECT_EQ(run({"remember", "lost?"}, &out, &err), 1);
    EXPECT_THAT(err, HasSubstr("the memory was not saved"));
}

namespace {

std::string exchange(const std::string &name)
{
    return nlohmann::json{{"type", "user"}, {"message", {{"content", name + "-question"}}}}.dump() + "\n"
        + nlohmann::json{{"type", "assistant"}, {"message", {{"content", {{{"type", "text"}, {"text", name + "-answer"}}}}}}}.dump()
        + "\n";
}

std::size_t occurrences(const std::string &text, const std::string &word)
{
    std::size_t count = 0;
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + word.size()))
        ++count;
    return count;
}

} // namespace

// As a user meets it: the daemon runs, the service goes away while the user works, comes
// back; every message ends up stored once and nothing earlier is lost.
TEST_F(ServiceCommands, DaemonLosesNothingWhileTheServiceIsDown)
{
    const std::string log = home.write("user/.claude/projects/-p-app/s.jsonl", std::string(250, '\n') + exchange("first"));
    login();
    Subprocess daemon({QUORRAL_EXECUTABLE, "daemon"}, environment());
    const auto nextReport = [&](const std::string &wanted) {
        while (const auto line = daemon.readLine(std::chrono::seconds(15))) {
            if (line->find(wanted) != std::string::npos)
                return true;
        }
        return false;
    };
    const auto started = daemon.readLine();
    ASSERT_TRUE(started) << daemon.errorOutput();
    EXPECT_THAT(*started, HasSubstr("Watching 1 of 9 tool folders"));
    // What was there before the start is sent at once, not at the first periodic check.
    ASSERT_TRUE(nextReport("claude-code: uploaded 1 of 1 files")) << daemon.output() << daemon.errorOutput();

    server.stop();
    std::ofstream(log, std::ios::app) << exchange("second");
    ASSERT_TRUE(nextReport("claude-code: 1 files not uploaded")) << daemon.output();
    std::ofstream(log, std::ios::app) << exchange("third");
    ASSERT_TRUE(nextReport("claude-code: 1 files not uploaded")) << daemon.output();

    LocalServer back(QUORRAL_SERVER_EXECUTABLE, home / "server.db", false, server.port());
    std::ofstream(log, std::ios::app) << exchange("fourth");
    ASSERT_TRUE(nextReport("claude-code: uploaded 1 of 1 files")) << daemon.output() << daemon.errorOutput();
    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.wait(), 0);
    EXPECT_THAT(daemon.output(), HasSubstr("Stopped."));

    const std::string stored = dashboard();
    for (const std::string name : {"first", "second", "third", "fourth"}) {
        EXPECT_EQ(occurrences(stored, name + "-question"), 1u) << name << "\n" << stored;
        EXPECT_EQ(occurrences(stored, name + "-answer"), 1u) << name;
    }

    std::string out;
    EXPECT_EQ(run({"daemon", "--bogus"}, &out), 2);
}

// One process per home syncs: a second daemon waits and says for whom, `sync` refuses,
// and the lock of a killed daemon is taken over.
TEST_F(ServiceCommands, OnlyOneProcessSyncsAHome)
{
    home.write("user/.claude/projects/-p-app/s.jsonl", std::string(250, '\n') + exchange("first"));
    login();
    Subprocess first({QUORRAL_EXECUTABLE, "daemon"}, environment());
    const auto watching = first.readLine();
    ASSERT_TRUE(watching) << first.errorOutput();
    ASSERT_THAT(*watching, HasSubstr("Watching"));

    Subprocess second({QUORRAL_EXECUTABLE, "daemon"}, environment());
    const auto waiting = second.readLine();
    ASSERT_TRUE(waiting) << second.errorOutput();
    EXPECT_THAT(*waiting, HasSubstr("Another Quorral process is syncing this home (process "));
    std::string out, err;
    EXPECT_EQ(run({"sync"}, &out, &err), 1);
    EXPECT_THAT(err, HasSubstr("another Quorral process is syncing this home"));

    first.signal(SIGKILL);
    first.wait();
    const auto takenOver = second.readLine(std::chrono::seconds(10));
    ASSERT_TRUE(takenOver) << second.errorOutput();
    EXPECT_THAT(*takenOver, HasSubstr("Watching")) << "the dead daemon's lock is taken over";
    second.signal(SIGTERM);
    EXPECT_EQ(second.wait(), 0);
    EXPECT_EQ(run({"sync"}, &out, &err), 0) << err;
}
