#include "LogGenerator.h"
#include "TempHome.h"

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

using quorral::test::TempHome;
using testing::HasSubstr;
using testing::Not;

namespace {

struct Run {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs the real executable with the home (and its config folder) pointed at `home`.
Run runQuorral(const TempHome &home, const std::string &args)
{
    const std::string out = home / "stdout.txt";
    const std::string err = home / "stderr.txt";
    const std::string command = "env HOME='" + home.path() + "' XDG_CONFIG_HOME='" + home.path() + "/.config' " +
                                QUORRAL_EXECUTABLE + " " + args + " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    return Run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
}

class ScanCommand : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        home = new TempHome;
        quorral::loggen::HomeSpec spec;
        spec.claudeBytes = 6u << 20;
        spec.largeSessionShare = 0.2;
        quorral::loggen::LogGenerator(11).populateHome(home->path(), spec);
    }
    static void TearDownTestSuite() { delete home; }
    static inline TempHome *home = nullptr;
};

} // namespace

TEST_F(ScanCommand, JsonListsEveryToolInOrderWithWhatItFound)
{
    const auto run = runQuorral(*home, "scan --json");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    const auto &tools = doc.at("tools");
    ASSERT_EQ(tools.size(), 10u);
    EXPECT_EQ(tools[0].at("id"), "claude-code");
    EXPECT_EQ(tools[9].at("id"), "deepseek");
    EXPECT_EQ(tools[0].at("detected"), true);
    EXPECT_GT(tools[0].at("records").get<int>(), 2);
    EXPECT_GT(tools[0].at("messages").get<int>(), tools[0].at("records").get<int>());
    EXPECT_GT(tools[0].at("bytes").get<int>(), 1000);
    EXPECT_EQ(tools[4].at("id"), "chatgpt");
    EXPECT_EQ(tools[4].at("detected"), false);
    EXPECT_THAT(run.err, HasSubstr("Scanning Claude Code…\n"));
}

TEST_F(ScanCommand, TableShowsOneRowPerToolAndLeavesTheUserSettingsAlone)
{
    const auto run = runQuorral(*home, "scan");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("Claude Code"));
    EXPECT_THAT(run.out, HasSubstr("GitHub Copilot"));
    EXPECT_THAT(run.out, HasSubstr("Total"));
    EXPECT_FALSE(std::filesystem::exists(*home / ".config/Quorral")) << "a dry run persists nothing";
}

TEST_F(ScanCommand, ShowPrintsTheTranscriptOfOneFile)
{
    std::string log;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(*home / ".claude/projects"))
        if (entry.path().extension() == ".jsonl" && entry.file_size() < (10u << 20))
            log = entry.path().string();
    ASSERT_FALSE(log.empty());
    const auto run = runQuorral(*home, "scan --show '" + log + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("User: ") || run.out.starts_with("Assistant: "));
    EXPECT_TRUE(run.out.ends_with("\n\n"));
    EXPECT_THAT(run.err, HasSubstr("Claude Code"));
    EXPECT_THAT(run.err, HasSubstr("knowledge"));

    const auto rules = runQuorral(*home, "scan --show '" + (*home / ".codex/instructions.md") + "'");
    ASSERT_EQ(rules.status, 0) << rules.err;
    EXPECT_EQ(rules.out, "Run the tests before committing.\n");

    const auto unknown = runQuorral(*home, "scan --show /etc/hostname");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_THAT(unknown.err, HasSubstr("nothing would be uploaded"));
}

TEST_F(ScanCommand, BadCommandLinesExitWithUsage)
{
    for (const char *args : {"scan --bogus", "scan --show", "frobnicate", "scan --json --show /x"}) {
        const auto run = runQuorral(*home, args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_THAT(run.err, HasSubstr("usage: quorral")) << args;
        EXPECT_TRUE(run.out.empty()) << args;
    }
    // Without a display a bare start cannot open the tray application: it says so and lists the commands.
    const auto bare = runQuorral(*home, "");
    EXPECT_EQ(bare.status, 1);
    EXPECT_THAT(bare.err, HasSubstr("usage: quorral"));
}

TEST(ScanCommandTools, CodexAndGeminiCliConversationsAreFound)
{
    TempHome home;
    const auto fixtures = quorral::test::fixturesDirectory();
    const auto place = [&](const std::string &fixture, const std::string &relative) {
        std::filesystem::create_directories(std::filesystem::path(home / relative).parent_path());
        std::filesystem::copy_file(fixtures + "/" + fixture, home / relative);
    };
    place("codex/VibeCodingTracker__test_conversation_codex.jsonl", ".codex/sessions/2025/09/19/rollout-2025-09-19T09-02-12.jsonl");
    place("codex/agent-sessions__codex_small.jsonl", ".codex/sessions/2026/08/03/rollout-2026-08-03T10-48-56.jsonl");
    place("gemini-cli/VibeCodingTracker__gemini.jsonl", ".gemini/tmp/9da8/chats/session-2026-04-23T12-52.jsonl");
    place("gemini-cli/VibeCodingTracker__test_conversation_gemini.json", ".gemini/tmp/9da8/chats/session-2026-03-27T10-19.json");

    const auto run = runQuorral(home, "scan --json");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto tools = nlohmann::json::parse(run.out).at("tools");
    for (const auto &tool : tools) {
        if (tool.at("id") == "codex" || tool.at("id") == "gemini") {
            EXPECT_EQ(tool.at("detected"), true) << tool.dump();
            EXPECT_EQ(tool.at("records"), 2) << tool.dump();
            EXPECT_GT(tool.at("messages").get<int>(), 4) << tool.dump();
        }
    }

    const auto show = runQuorral(home, "scan --show '" + (home / ".codex/sessions/2026/08/03/rollout-2026-08-03T10-48-56.jsonl") + "'");
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_EQ(show.out, "User: List the files\n\nAssistant: Found 2 files.\n\n");
    EXPECT_THAT(show.err, HasSubstr("Codex"));
}

namespace {

// Made from pieces here, so that no file of the repository holds a whole token.
std::string generatedGithubToken()
{
    return std::string("gh") + "p_" + "Zq8" + std::string(30, 'x') + "Y7w";
}

std::string claudeLine(const std::string &type, const std::string &text)
{
    return nlohmann::json{{"type", type}, {"cwd", "/nowhere"}, {"message", {{"role", type}, {"content", text}}}}.dump()
        + "\n";
}

} // namespace

TEST(ScanCommandPrivacy, ShowPreviewsTheRedactedTextUnlessRedactionIsOff)
{
    TempHome home;
    const std::string awsName = std::string("aws_secret_") + "access_key";
    const std::string awsSecret = std::string(20, 'k') + "/Ab3+Cd4" + std::string(12, 'M');
    const std::string log = home.write(
        ".claude/projects/-w-app/s.jsonl",
        claudeLine("user", "My token is " + generatedGithubToken() + " and\n" + awsName + " = " + awsSecret
                               + "\nThe commit 3f2a9c1e8b7d6f5a4c3b2a1908f7e6d5c4b3a291 and the tokenizer stay.")
            + claudeLine("assistant", "Thanks, I will not repeat those values anywhere in the repository."));

    const auto shown = runQuorral(home, "scan --show '" + log + "'");
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out, "User: My token is [redacted:github-token] and\n" + awsName
                             + " = [redacted:aws-secret-key]\nThe commit 3f2a9c1e8b7d6f5a4c3b2a1908f7e6d5c4b3a291 and "
                               "the tokenizer stay.\n\nAssistant: Thanks, I will not repeat those values anywhere in "
                               "the repository.\n\n");
    EXPECT_THAT(shown.err, HasSubstr("2 redacted"));

    const auto json = runQuorral(home, "scan --json");
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(nlohmann::json::parse(json.out).at("tools")[0].at("redacted"), 2);

    EXPECT_EQ(runQuorral(home, "config redact").out, "redact on\n");
    const auto off = runQuorral(home, "config redact off");
    ASSERT_EQ(off.status, 0) << off.err;
    EXPECT_EQ(runQuorral(home, "config redact").out, "redact off\n");
    const auto clear = runQuorral(home, "scan --show '" + log + "'");
    EXPECT_THAT(clear.out, HasSubstr(generatedGithubToken()));
    EXPECT_THAT(clear.out, HasSubstr(awsSecret));
    EXPECT_EQ(nlohmann::json::parse(runQuorral(home, "scan --json").out).at("tools")[0].at("redacted"), 0);

    ASSERT_EQ(runQuorral(home, "config redact on").status, 0);
    EXPECT_THAT(runQuorral(home, "scan --show '" + log + "'").out, Not(HasSubstr(generatedGithubToken())));

    for (const char *bad : {"config", "config redact maybe", "config colour on"}) {
        const auto run = runQuorral(home, bad);
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_THAT(run.err, HasSubstr("usage: quorral config")) << bad;
    }
}

TEST(ScanCommandPrivacy, ExcludeRulesKeepFilesOutOfTheScan)
{
    TempHome home;
    const std::string line = claudeLine("user", "A question long enough to be worth a memory of its own, surely.");
    const std::string kept = home.write(".claude/projects/-w-open/a.jsonl", line + line);
    const std::string client = home.write(".claude/projects/-w-client/b.jsonl", line + line);
    home.write(".claude/projects/-w-client/c.jsonl", line + line);
    home.write(".deepseek/config.json", "{\"model\": \"deepseek-chat\"}");

    const auto tools = [&] {
        const auto run = runQuorral(home, "scan --json");
        EXPECT_EQ(run.status, 0) << run.err;
        std::map<std::string, std::pair<int, int>> rows; // id -> records, excluded
        const auto doc = nlohmann::json::parse(run.out);
        for (const auto &tool : doc.at("tools"))
            rows[tool.at("id").get<std::string>()] = {tool.at("records").get<int>(), tool.at("excluded").get<int>()};
        return rows;
    };
    EXPECT_EQ(tools()["claude-code"], std::make_pair(3, 0));

    const auto added = runQuorral(home, "exclude add '~/.claude/projects/-w-client' tool:deepseek");
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_THAT(added.out, HasSubstr("Excluded: tool:deepseek"));
    EXPECT_THAT(runQuorral(home, "exclude add tool:deepseek").out, HasSubstr("Already excluded"));
    EXPECT_EQ(runQuorral(home, "exclude list").out, "~/.claude/projects/-w-client\ntool:deepseek\n");

    auto rows = tools();
    EXPECT_EQ(rows["claude-code"], std::make_pair(1, 2));
    EXPECT_EQ(rows["deepseek"], std::make_pair(0, 1));
    const auto table = runQuorral(home, "scan");
    EXPECT_THAT(table.out, HasSubstr("EXCLUDED"));
    const auto show = runQuorral(home, "scan --show '" + client + "'");
    EXPECT_EQ(show.status, 1);
    EXPECT_THAT(show.err, HasSubstr("it is excluded"));
    EXPECT_EQ(runQuorral(home, "scan --show '" + kept + "'").status, 0);

    // A project folder that opts out on its own.
    home.write("work/.quorral-ignore", "");
    const std::string inWork = home.write(".claude/projects/-work/d.jsonl",
                                          nlohmann::json{{"type", "user"},
                                                         {"cwd", home / "work"},
                                                         {"message", {{"content", "A question about the work tree, long enough."}}}}
                                                  .dump()
                                              + "\n" + line);
    EXPECT_EQ(tools()["claude-code"], std::make_pair(1, 3));
    EXPECT_THAT(runQuorral(home, "scan --show '" + inWork + "'").err, HasSubstr("it is excluded"));

    const auto removed = runQuorral(home, "exclude remove tool:deepseek '~/.claude/projects/-w-client'");
    ASSERT_EQ(removed.status, 0) << removed.err;
    EXPECT_EQ(runQuorral(home, "exclude list").out, "");
    EXPECT_EQ(tools()["deepseek"], std::make_pair(1, 0));
    const auto missing = runQuorral(home, "exclude remove tool:nothing");
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.err, HasSubstr("no rule tool:nothing"));
    for (const char *bad : {"exclude", "exclude add", "exclude drop x", "exclude list x"})
        EXPECT_EQ(runQuorral(home, bad).status, 2) << bad;
}
