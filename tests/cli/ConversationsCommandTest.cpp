#include "Subprocess.h"
#include "TempHome.h"
#include "io/ReadFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <sstream>

using quorral::test::Subprocess;
using quorral::test::TempHome;
using testing::HasSubstr;
using testing::Not;

namespace {

struct Run {
    int status;
    std::string out, err;
};

Run run(const TempHome &home, std::vector<std::string> args)
{
    args.insert(args.begin(), QUORRAL_EXECUTABLE);
    args.insert(args.begin() + 1, "conversations");
    Subprocess process(args, {{"HOME", home.path()}, {"XDG_CACHE_HOME", home / "cache"}, {"TZ", "UTC"}, {"COLUMNS", "100"}});
    const int status = process.wait();
    return {status, process.output(), process.errorOutput()};
}

} // namespace

TEST(ConversationsCommand, ListsFiltersShowsAndExports)
{
    TempHome home;
    const auto fixtures = quorral::test::fixturesDirectory();
    std::filesystem::create_directories(home / ".claude/projects/p");
    std::filesystem::create_directories(home / ".openclaw/agents/a/sessions");
    std::filesystem::copy_file(fixtures + "/claude-code/claude-code-viewer__fe5e1c67-53e7-4862-81ae-d0e013e3270b.jsonl",
                               home / ".claude/projects/p/viewer.jsonl");
    std::filesystem::copy_file(fixtures + "/openclaw/agentsview__pi_session.jsonl",
                               home / ".openclaw/agents/a/sessions/pi.jsonl");

    auto list = run(home, {});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_THAT(list.out, HasSubstr("2 of 2 conversations"));
    EXPECT_THAT(list.out, HasSubstr("OpenClaw    2025-01-01     4 6s     "));
    EXPECT_THAT(list.out, HasSubstr(" my-project       Fix the login bug "));
    EXPECT_TRUE(quorral::io::exists(home / "cache/Quorral/lite-cache-v1.json")) << "the browser's cache is refreshed";

    const auto json = run(home, {"--json", "--source", "openclaw", "--search", "LOGIN"});
    ASSERT_EQ(json.status, 0);
    const auto items = nlohmann::json::parse(json.out);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]["id"], "pi-test-session-uuid");
    EXPECT_EQ(items[0]["messageCount"], 4);
    EXPECT_EQ(items[0]["startAt"], "2025-01-01T10:00:01Z");
    EXPECT_THAT(run(home, {"--time", "today"}).out, HasSubstr("0 of 2 conversations"));

    const auto show = run(home, {"show", "pi-test-session-uuid"});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_THAT(show.out, HasSubstr("[user] 2025-01-01 10:00:01\nFix the login bug\n"));
    EXPECT_THAT(show.out, HasSubstr("  ▸ thinking ("));
    const auto markdown = run(home, {"show", "pi-test-session-uuid", "--markdown"});
    EXPECT_THAT(markdown.out, HasSubstr("# Fix the login bug\n\n- Source: OpenClaw\n"));
    EXPECT_THAT(markdown.out, HasSubstr("## Assistant — 2025-01-01T10:00:02Z"));

    EXPECT_EQ(run(home, {"show", "no-such-id"}).status, 1);
    EXPECT_EQ(run(home, {"--time", "yesterday"}).status, 2);
    EXPECT_EQ(run(home, {"--source", "chatgpt"}).status, 2);
}

TEST(ConversationsCommand, CodexGeminiAndSubagentConversations)
{
    TempHome home;
    const auto fixtures = quorral::test::fixturesDirectory();
    const auto place = [&](const std::string &fixture, const std::string &relative) {
        std::filesystem::create_directories(std::filesystem::path(home / relative).parent_path());
        std::filesystem::copy_file(fixtures + "/" + fixture, home / relative);
    };
    const std::string session = "ef958aa1-0e93-49f0-bb71-150f63befcd1";
    place("claude-code/claude-code-log__ef958aa1-0e93-49f0-bb71-150f63befcd1.jsonl",
          ".claude/projects/-experiments/" + session + ".jsonl");
    place("claude-code/claude-code-log__ef958aa1_subagents_agent-a4ca7529859c158c2.jsonl",
          ".claude/projects/-experiments/" + session + "/subagents/agent-a4ca7529859c158c2.jsonl");
    place("codex/agent-sessions__codex_small.jsonl", ".codex/sessions/2026/08/03/rollout-2026-08-03T10-48-56-019f.jsonl");
    place("gemini-cli/VibeCodingTracker__test_conversation_gemini.json", ".gemini/tmp/app/chats/session-2026-03-27.json");

    const auto listed = run(home, {"--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const auto items = nlohmann::json::parse(listed.out);
    ASSERT_EQ(items.size(), 4u);
    std::map<std::string, int> sources;
    int subagents = 0;
    for (const auto &item : items) {
        ++sources[item["source"].get<std::string>()];
        if (item.value("sidechain", false)) {
            ++subagents;
            EXPECT_THAT(item["file"].get<std::string>(), HasSubstr("/subagents/"));
        }
    }
    EXPECT_EQ(sources["claudeCode"], 2);
    EXPECT_EQ(sources["codex"], 1);
    EXPECT_EQ(sources["geminiCli"], 1);
    EXPECT_EQ(subagents, 1);

    const auto table = run(home, {"--source", "codex,geminiCli"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_THAT(table.out, HasSubstr("Codex"));
    EXPECT_THAT(table.out, HasSubstr("List the files"));
    EXPECT_THAT(table.out, HasSubstr("Gemini CLI"));
    EXPECT_THAT(table.out, HasSubstr("2 of 4 conversations"));
    EXPECT_THAT(run(home, {}).out, HasSubstr("↳ subagent: "));

    // The session's own conversation opens, although its subagent shares the id.
    const auto show = run(home, {"show", session});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_THAT(show.out, HasSubstr("OK, we're going to make a little experiment here."));
    EXPECT_THAT(show.out, testing::Not(HasSubstr("You are **alice**")));
    EXPECT_EQ(show.err, "");

    const auto codex = run(home, {"show", "019fc8be-3658-7ca3-9e29-000000000000"});
    ASSERT_EQ(codex.status, 0) << codex.err;
    EXPECT_THAT(codex.out, HasSubstr("Codex · /tmp/repo"));
    EXPECT_THAT(codex.out, HasSubstr("[user] 2026-08-03 10:48:56\nList the files\n"));
    EXPECT_THAT(codex.out, HasSubstr("  ▸ tool shell {\"command\":[\"ls\"]}"));
}

namespace {

// Terminal cells of a line: the CJK text used here takes two, everything else one.
std::size_t cells(const std::string &line)
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < line.size();) {
        const auto c = static_cast<unsigned char>(line[i]);
        const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        count += (c >= 0xE3 && c <= 0xE9) ? 2 : 1;
        i += length;
    }
    return count;
}

std::string claudeLog(const std::string &session, const std::string &cwd, const std::string &text, const std::string &day)
{
    return nlohmann::json{{"type", "user"}, {"uuid", session + "-u"}, {"cwd", cwd}, {"sessionId", session},
                          {"timestamp", day + "T10:00:00Z"},
                          {"message", {{"role", "user"}, {"content", text}}}}
               .dump()
        + "\n"
        + nlohmann::json{{"type", "assistant"}, {"uuid", session + "-a"}, {"cwd", cwd}, {"sessionId", session},
                         {"timestamp", day + "T10:01:00Z"},
                         {"message", {{"role", "assistant"}, {"content", {{{"type", "text"}, {"text", "Done."}}}}}}}
              .dump()
        + "\n";
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> result;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

} // namespace

TEST(ConversationsCommand, ListFitsTheTerminalWithWideTextAndFiltersByProject)
{
    TempHome home;
    home.write(".claude/projects/a/s1.jsonl",
               claudeLog("session-1", "/w/网站", "修复登录页面的错误并且补上测试用例然后再检查一遍所有的页面是否正常工作最后提交", "2025-01-03"));
    home.write(".claude/projects/b/s2.jsonl",
               claudeLog("session-2", "/w/api-server", "<command-name>/clear</command-name>\n<command-message>clear</command-message>\n<command-args></command-args>", "2025-01-02"));
    home.write(".claude/projects/b/s3.jsonl", claudeLog("session-3", "/w/api-server", "Why is the build slow?", "2025-01-01"));

    const auto list = run(home, {"--source", "claude-code"});
    ASSERT_EQ(list.status, 0) << list.err;
    const auto rows = lines(list.out);
    ASSERT_EQ(rows.size(), 5u) << list.out;
    EXPECT_THAT(rows[0], testing::StartsWith("TOOL        STARTED     MSGS TIME   PROJECT          PREVIEW"));
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_EQ(cells(rows[i]), 100u) << "every row is as wide as the terminal: " << rows[i];
    EXPECT_THAT(rows[1], HasSubstr(" 网站 "));
    EXPECT_THAT(rows[1], HasSubstr("…"));
    EXPECT_THAT(rows[1], testing::EndsWith(" session-1"));
    EXPECT_THAT(rows[2], HasSubstr(" api-server       /clear "));
    EXPECT_EQ(rows[4], "3 of 3 conversations");

    const auto project = run(home, {"--project", "API", "--limit", "1"});
    ASSERT_EQ(project.status, 0) << project.err;
    EXPECT_THAT(project.out, HasSubstr("session-2"));
    EXPECT_THAT(project.out, Not(HasSubstr("session-3")));
    EXPECT_THAT(project.out, HasSubstr("1 of 3 conversations (2 match; --limit N shows more, --limit 0 all)"));
    EXPECT_EQ(lines(run(home, {"--limit", "0"}).out).size(), 5u);
}
