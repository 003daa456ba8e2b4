#include "integrations/RulesFileManager.h"

#include "TempHome.h"
#include "io/ReadFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace quorral::integrations;
using namespace quorral::integrations::RulesFileManager;
using quorral::test::TempHome;
using testing::HasSubstr;

namespace {

const std::string S(startMarker);
const std::string E(endMarker);
const std::string &block() { return instructionBlock(); }

std::string read(const std::string &path) { return quorral::io::readWholeFile(path).value_or("<missing>"); }

} // namespace

TEST(RulesFileManager, BlockIsSevenLinesWithoutTrailingLineFeed)
{
    EXPECT_EQ(block(), S + "\n## Quorral Memory\n\n"
                           "在每次新对话开始时，调用 quorral_inject 加载用户背景上下文。\n"
                           "当用户的问题涉及历史决策、偏好、项目背景时，调用 quorral_recall 检索相关记忆。\n"
                           "当用户明确要求记住某个信息时，调用 quorral_save。\n" +
                           E);
    EXPECT_EQ(S, "<!-- Quorral:start (auto-managed, do not edit this block) -->");
    EXPECT_EQ(E, "<!-- Quorral:end -->");
}

TEST(RulesFileManager, ContentAfterWrite)
{
    struct Case {
        const char *name;
        std::string before;
        std::string after;
    };
    const Case cases[] = {
        {"empty file", "", block() + "\n"},
        {"text and three line feeds", "notes\n\n\n", "notes\n\n" + block() + "\n"},
        {"leading line breaks go, spaces stay", "\r\n\n  indented\t\n", "  indented\t\n\n" + block() + "\n"},
        {"text around a block is kept exactly", "A\n" + S + "\nold\n" + E + "B", "A\n" + block() + "B"},
        {"refresh changes nothing", "A\n\n" + block() + "\n", "A\n\n" + block() + "\n"},
        {"only a start marker: a second block is appended", "x " + S + " y", "x " + S + " y\n\n" + block() + "\n"},
        {"end before start: a block is appended", E + "\ntext\n" + S + "\n", E + "\ntext\n" + S + "\n\n" + block() + "\n"},
        {"stray start before a block keeps the text after it", S + "\nmine\n\n" + block() + "\n",
         S + "\nmine\n\n" + block() + "\n"},
        {"first of two blocks is replaced", "a" + S + "1" + E + "b" + S + "2" + E,
         "a" + block() + "b" + S + "2" + E},
    };
    for (const auto &c : cases)
        EXPECT_EQ(contentWithBlock(c.before), c.after) << c.name;
}

TEST(RulesFileManager, ContentAfterRemoval)
{
    struct Case {
        const char *name;
        std::string before;
        std::optional<std::string> after;
    };
    const Case cases[] = {
        {"no markers", "plain text\n", std::nullopt},
        {"only a start marker", S + "\nrest", std::nullopt},
        {"end before start", E + " then " + S, std::nullopt},
        {"only the block", block() + "\n", ""},
        {"A, block, B", "A\n\n" + block() + "\n\nB", "A\n\nB"},
        {"long runs of line feeds shrink to two", "A\n\n\n\n\n" + block() + "\n\n\n\nB\n\n\n\nC", "A\n\nB\n\nC"},
        {"white space at both ends goes", " \u3000\tA\n" + block() + "\n  ", "A"},
        {"stray start marker and its text stay", S + " mine\n\n" + block(), S + " mine"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(contentWithoutBlock(c.before), c.after) << c.name;
}

TEST(RulesFileManager, SyncAllCreatesEveryFileInTableOrder)
{
    TempHome home;
    const auto results = syncAll(home.path());
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[0], (ConfigResult{"rules-claude-code", "Claude Code 规则已写入", true, false, "Claude Code"}));
    const char *ids[] = {"rules-claude-code", "rules-cursor", "rules-windsurf", "rules-trae", "rules-codex"};
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].id, ids[i]);
        EXPECT_TRUE(results[i].success);
        EXPECT_FALSE(results[i].needsRestart);
    }
    for (const char *path : {".claude/CLAUDE.md", ".cursor/rules/quorral.mdc", ".windsurfrules", ".trae/rules/quorral.md",
                             ".codex/instructions.md"})
        EXPECT_EQ(read(home / path), block() + "\n") << path;
    EXPECT_FALSE(quorral::io::exists(home / ".claude/CLAUDE.md.quorral.tmp"));
}

TEST(RulesFileManager, ClaudeRulesFollowClaudeConfigDir)
{
    TempHome home;
    const auto moved = home.mkdir("elsewhere/claude");
    ::setenv("CLAUDE_CONFIG_DIR", moved.c_str(), 1);
    const auto results = syncAll(home.path());
    ::unsetenv("CLAUDE_CONFIG_DIR");
    ASSERT_FALSE(results.empty());
    EXPECT_TRUE(results[0].success);
    EXPECT_EQ(read(moved + "/CLAUDE.md"), block() + "\n");
    EXPECT_FALSE(quorral::io::exists(home / ".claude/CLAUDE.md"));
}

TEST(RulesFileManager, UnusableFilesAreNeverReplaced)
{
    TempHome home;
    const std::string notUtf8 = "my rules \xff\xfe\n";
    home.write(".claude/CLAUDE.md", notUtf8);
    home.mkdir(".windsurfrules"); // a folder where the file should be
    home.write(".trae", "a file where the folder should be");
    const auto results = syncAll(home.path());
    EXPECT_EQ(results[0], (ConfigResult{"rules-claude-code", "Claude Code 规则写入失败", false, false, "Claude Code"}));
    EXPECT_TRUE(results[1].success);
    EXPECT_FALSE(results[2].success);
    EXPECT_EQ(results[3].label, "Trae 规则写入失败");
    EXPECT_TRUE(results[4].success);
    EXPECT_EQ(read(home / ".claude/CLAUDE.md"), notUtf8);
    EXPECT_EQ(read(home / ".trae"), "a file where the folder should be");

    removeAll(home.path());
    EXPECT_EQ(read(home / ".claude/CLAUDE.md"), notUtf8);
}

TEST(RulesFileManager, UnreadableFileIsLeftAlone)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads any file";
    TempHome home;
    const auto path = home.write(".codex/instructions.md", "secret");
    ::chmod(path.c_str(), 0200);
    EXPECT_FALSE(syncAll(home.path())[4].success);
    ::chmod(path.c_str(), 0600);
    EXPECT_EQ(read(path), "secret");
}

TEST(RulesFileManager, RemovalDeletesOwnFilesAndEmptiesSharedOnes)
{
    TempHome home;
    home.write(".codex/instructions.md", "Keep this.\n");
    syncAll(home.path());
    removeAll(home.path());
    EXPECT_FALSE(quorral::io::exists(home / ".cursor/rules/quorral.mdc"));
    EXPECT_FALSE(quorral::io::exists(home / ".trae/rules/quorral.md"));
    EXPECT_EQ(read(home / ".claude/CLAUDE.md"), "");
    EXPECT_EQ(read(home / ".windsurfrules"), "");
    EXPECT_EQ(read(home / ".codex/instructions.md"), "Keep this.\n");
}

TEST(RulesFileManager, LinkedRulesFileStaysALink)
{
    TempHome home;
    const auto real = home.write("dotfiles/CLAUDE.md", "Mine.\n");
    home.mkdir(".claude");
    ASSERT_EQ(::symlink(real.c_str(), (home / ".claude/CLAUDE.md").c_str()), 0);
    EXPECT_TRUE(syncAll(home.path())[0].success);
    struct stat st {};
    ASSERT_EQ(::lstat((home / ".claude/CLAUDE.md").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read(real), "Mine.\n\n" + block() + "\n");
}

TEST(RulesFileManager, RemovalReportsEachFileAndLeavesReadOnlyOnesAlone)
{
    TempHome home;
    home.write(".codex/instructions.md", "Keep this.\n");
    syncAll(home.path());
    const auto cursor = home / ".cursor/rules/quorral.mdc";
    ::chmod(cursor.c_str(), 0444);
    const auto claude = home / ".claude/CLAUDE.md";
    ::chmod(claude.c_str(), 0444);
    const auto claudeText = read(claude);
    ::unlink((home / ".windsurfrules").c_str());

    const auto results = removeAll(home.path());
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[0].label, "Claude Code rules block");
    EXPECT_EQ(results[0].outcome, RemovalResult::Outcome::failed);
    EXPECT_THAT(results[0].problem, HasSubstr("read-only"));
    EXPECT_EQ(read(claude), claudeText);
    EXPECT_EQ(results[1].outcome, RemovalResult::Outcome::failed);
    EXPECT_TRUE(quorral::io::exists(cursor)) << "a read-only file is not deleted either";
    EXPECT_EQ(results[2].outcome, RemovalResult::Outcome::absent);
    EXPECT_EQ(results[3], (RemovalResult{"Trae rules block", home / ".trae/rules/quorral.md", RemovalResult::Outcome::removed, ""}));
    EXPECT_EQ(results[4].outcome, RemovalResult::Outcome::removed);
    EXPECT_EQ(read(home / ".codex/instructions.md"), "Keep this.\n");
    EXPECT_EQ(removeAll(home.path())[4].outcome, RemovalResult::Outcome::absent);
}
