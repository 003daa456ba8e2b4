#include "privacy/ExcludeRules.h"

#include "TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace quorral::privacy;
using quorral::test::TempHome;
using testing::ElementsAre;

TEST(ExcludeRules, GlobsMatchWholePaths)
{
    struct Case {
        const char *glob;
        const char *path;
        bool matches;
    } cases[] = {
        {"/h/a.jsonl", "/h/a.jsonl", true},
        {"/h/*.jsonl", "/h/a.jsonl", true},
        {"/h/*.jsonl", "/h/x/a.jsonl", false}, // one star stays in its folder
        {"/h/**.jsonl", "/h/x/y/a.jsonl", true},
        {"/h/**/a.jsonl", "/h/a.jsonl", true},
        {"/h/**/a.jsonl", "/h/x/y/a.jsonl", true},
        {"/h/?.md", "/h/a.md", true},
        {"/h/?.md", "/h/ab.md", false},
        {"/h/*secret*", "/h/my-secret-notes.md", true},
        {"/h/a", "/h/ab", false},
        {"", "", true},
        {"*", "", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(globMatches(c.glob, c.path), c.matches) << c.glob << " ~ " << c.path;
}

TEST(ExcludeRules, RulesFromTheFile)
{
    const ExcludeRules rules("# work projects stay local\n"
                             "~/.claude/projects/-work-*\n"
                             "\n"
                             "  tool:cursor  \n"
                             "/srv/logs/\n"
                             "**/client-x/**\n",
                             "/home/ann");
    EXPECT_TRUE(rules.excludesTool("cursor"));
    EXPECT_FALSE(rules.excludesTool("codex"));
    EXPECT_FALSE(rules.excludesTool("# work projects stay local"));
    // A rule that matches a folder covers everything below it.
    EXPECT_TRUE(rules.excludesPath("/home/ann/.claude/projects/-work-api/s1.jsonl"));
    EXPECT_TRUE(rules.excludesPath("/home/ann/.claude/projects/-work-api/s1/subagents/a.jsonl"));
    EXPECT_FALSE(rules.excludesPath("/home/ann/.claude/projects/-home-ann-site/s1.jsonl"));
    EXPECT_FALSE(rules.excludesPath("/home/bob/.claude/projects/-work-api/s1.jsonl"));
    EXPECT_TRUE(rules.excludesPath("/srv/logs/a.jsonl"));
    EXPECT_FALSE(rules.excludesPath("/srv/logs2/a.jsonl"));
    EXPECT_TRUE(rules.excludesPath("/home/ann/code/client-x/notes.md"));
    EXPECT_FALSE(ExcludeRules("# only a comment\n", "/home/ann").excludesPath("/home/ann/x"));
    EXPECT_TRUE(ExcludeRules().empty());
}

TEST(ExcludeRules, ArgumentsBecomeRules)
{
    EXPECT_EQ(normalisedRule("tool:cursor", "/w"), "tool:cursor");
    EXPECT_EQ(normalisedRule("~/.codex/**", "/w"), "~/.codex/**");
    EXPECT_EQ(normalisedRule("/abs/path/", "/w"), "/abs/path/");
    EXPECT_EQ(normalisedRule("logs/*.jsonl", "/w/d"), "/w/d/logs/*.jsonl");
    EXPECT_EQ(normalisedRule("./proj/", "/w/d/"), "/w/d/proj");
    EXPECT_EQ(normalisedRule(".", "/w/d"), "/w/d");
}

TEST(ExcludeRules, AddListRemoveKeepOtherLines)
{
    TempHome home;
    EXPECT_TRUE(readExcludeRules(home.path()).empty());
    EXPECT_TRUE(addExcludeRule(home.path(), "tool:cursor").changed);
    EXPECT_FALSE(addExcludeRule(home.path(), "tool:cursor").changed);
    home.write(".quorral/exclude", "# mine\ntool:cursor\n/srv/a");
    EXPECT_TRUE(addExcludeRule(home.path(), "~/x/**").changed);
    EXPECT_THAT(readExcludeRules(home.path()), ElementsAre("tool:cursor", "/srv/a", "~/x/**"));

    EXPECT_TRUE(removeExcludeRule(home.path(), "tool:cursor").changed);
    EXPECT_FALSE(removeExcludeRule(home.path(), "tool:nothing").changed);
    std::ifstream in(excludeFilePath(home.path()));
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "# mine\n/srv/a\n~/x/**\n");
    EXPECT_TRUE(ExcludeRules::load(home.path()).excludesPath(home.path() + "/x/y/z.md"));
}
