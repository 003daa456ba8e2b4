#include "Subprocess.h"
#include "TempHome.h"
#include "io/ReadFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

using quorral::test::Subprocess;
using quorral::test::TempHome;
using testing::HasSubstr;

namespace {

struct Run {
    int status;
    std::string out, err;
};

Run run(const TempHome &home, std::vector<std::string> args)
{
    args.insert(args.begin(), QUORRAL_EXECUTABLE);
    args.insert(args.begin() + 1, "conversations");
    Subprocess process(args, {{"HOME", home.path()}, {"XDG_CACHE_HOME", home / "cache"}, {"TZ", "UTC"}});
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
    EXPECT_THAT(list.out, HasSubstr("OpenClaw     2025-01-01  4 msgs     6s      Fix the login bug"));
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
