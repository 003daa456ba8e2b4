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
    EXPECT_EQ(run({"status"}, &out), 1);
    EXPECT_THAT(out, HasSubstr("Not signed in"));
    EXPECT_EQ(run({"sync"}, &out, &err), 1);
    EXPECT_THAT(err, HasSubstr("not signed in"));

    login();
    ASSERT_EQ(run({"sync"}, &out, &err), 0) << err;
    EXPECT_THAT(out, HasSubstr("Scanning Claude Code…\n"));
    EXPECT_THAT(out, HasSubstr("扫描了 8 个工具，发现 "));
    ASSERT_EQ(run({"sync"}, &out), 0);
    EXPECT_THAT(out, HasSubstr("扫描了 8 个工具，暂无新对话")) << "the tracker persisted between runs";

    EXPECT_EQ(run({"remember", "I", "prefer", "short", "answers"}, &out), 0);
    EXPECT_THAT(out, HasSubstr("Remembered."));
    EXPECT_EQ(run({"remember"}, &out, &err), 2);

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
    EXPECT_THAT(out, HasSubstr("ok      Cursor 已连接  (restart the tool to pick it up)\n"));
    EXPECT_THAT(out, HasSubstr("ok      Codex 规则已写入\n"));
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
    ASSERT_TRUE(process.readLine());
    ASSERT_TRUE(process.readLine()); // "Waiting for the sign-in…"
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

    login();
    server.stop();
    std::string out, err;
    EXPECT_EQ(run({"status"}, &out, &err), 1);
    EXPECT_THAT(err, HasSubstr("cannot read the account from " + server.origin() + "/api"));
    EXPECT_EQ(run({"remember", "lost?"}, &out, &err), 1);
    EXPECT_THAT(err, HasSubstr("the memory was not saved"));
}

TEST_F(ServiceCommands, DaemonSyncsAnAppendAndStopsCleanlyOnSigterm)
{
    const std::string log = home.write("user/.claude/projects/-p-app/s.jsonl",
                                       std::string(250, '\n') + "{\"type\":\"user\",\"message\":{\"content\":\"the first question\"}}\n");
    login();
    Subprocess daemon({QUORRAL_EXECUTABLE, "daemon"}, environment());
    const auto started = daemon.readLine();
    ASSERT_TRUE(started) << daemon.errorOutput();
    EXPECT_THAT(*started, HasSubstr("Watching 1 of 7 tool folders"));
    std::ofstream(log, std::ios::app) << "{\"type\":\"user\",\"message\":{\"content\":\"a question appended later\"}}\n";
    const auto synced = daemon.readLine(std::chrono::seconds(10));
    ASSERT_TRUE(synced) << daemon.errorOutput();
    EXPECT_THAT(*synced, HasSubstr("claude-code: uploaded 1 of 1 files"));
    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.wait(), 0);
    EXPECT_THAT(daemon.output(), HasSubstr("Stopped."));

    std::string out;
    EXPECT_EQ(run({"daemon", "--bogus"}, &out), 2);
}
