#include "integrations/MCPConfigurator.h"

#include "TempHome.h"
#include "io/ReadFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>
#include <sys/stat.h>

using namespace quorral::integrations;
using quorral::test::TempHome;
using testing::HasSubstr;

namespace {

const std::string key = "qo_sk_0123456789abcdef";

nlohmann::json readJson(const std::string &path)
{
    return nlohmann::json::parse(quorral::io::readWholeFile(path).value());
}

} // namespace

TEST(MCPConfigurator, MissingFileAndFolderGetOnlyTheQuorralEntry)
{
    TempHome home;
    std::ostringstream log;
    const auto results = MCPConfigurator(home.path(), log).configureAll(key);

    ASSERT_EQ(results.size(), 9u);
    const char *ids[] = {"cursor", "claude-code", "windsurf", "trae"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(results[i].id, ids[i]);
    EXPECT_EQ(results[0], (ConfigResult{"cursor", "Cursor 已连接", true, true, "Cursor"}));
    EXPECT_EQ(results[4].id, "rules-claude-code");
    EXPECT_EQ(results[8].id, "rules-codex");

    const auto cursor = quorral::io::readWholeFile(home / ".cursor/mcp.json").value();
    EXPECT_EQ(nlohmann::json::parse(cursor),
              nlohmann::json::parse(R"({"mcpServers":{"quorral":{"command":"npx","args":["-y","@quorral/mcp-server"],)"
                                    R"("env":{"QUORRAL_API_KEY":"qo_sk_0123456789abcdef"}}}})"));
    EXPECT_LT(cursor.find("\"args\""), cursor.find("\"command\"")) << "keys are sorted";
    struct stat st {};
    ::stat((home / ".cursor/mcp.json").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file holds the key";
    EXPECT_EQ(log.str(), "");
}

TEST(MCPConfigurator, ExistingMembersAreKeptAndAnOldEntryIsReplacedWhole)
{
    TempHome home;
    home.write(".claude/mcp.json",
               R"({"zeta": {"b": 2, "a": [1, 2.5, null]}, "mcpServers": {"other": {"command": "x"},)"
               R"( "quorral": {"command": "old", "extra": true}}})");
    std::ostringstream log;
    MCPConfigurator configurator(home.path(), log);
    const auto result = configurator.configureTarget(configurator.targets()[1], key);
    EXPECT_TRUE(result.success);

    const auto text = quorral::io::readWholeFile(home / ".claude/mcp.json").value();
    const auto root = nlohmann::json::parse(text);
    EXPECT_EQ(root["zeta"], nlohmann::json::parse(R"({"a": [1, 2.5, null], "b": 2})"));
    EXPECT_EQ(root["mcpServers"]["other"], nlohmann::json::parse(R"({"command": "x"})"));
    EXPECT_EQ(root["mcpServers"]["quorral"], MCPConfigurator::mcpServerConfig(key));
    EXPECT_LT(text.find("\"mcpServers\""), text.find("\"zeta\""));
    EXPECT_LT(text.find("\"other\""), text.find("\"quorral\""));
}

TEST(MCPConfigurator, UnusableFilesStayByteForByte)
{
    struct Case {
        const char *name;
        std::string content;
        const char *reason;
    };
    const Case cases[] = {
        {"invalid JSON", "{\"mcpServers\": {,}", "JSON object"},
        {"comments are not JSON", "// mine\n{\"mcpServers\": {}}", "JSON object"},
        {"an array", "[1, 2]", "JSON object"},
        {"a string", "\"text\"", "JSON object"},
        {"mcpServers is a string", R"({"mcpServers": "none"})", "\"mcpServers\""},
        {"mcpServers is an array", R"({"mcpServers": []})", "\"mcpServers\""},
        {"not UTF-8", "{\"name\": \"\xff\"}", "UTF-8"},
    };
    for (const auto &c : cases) {
        TempHome home;
        const auto path = home.write(".windsurf/mcp.json", c.content);
        std::ostringstream log;
        MCPConfigurator configurator(home.path(), log);
        const auto result = configurator.configureTarget(configurator.targets()[2], key);
        EXPECT_EQ(result, (ConfigResult{"windsurf", "Windsurf 配置失败", false, false, "Windsurf"})) << c.name;
        EXPECT_EQ(quorral::io::readWholeFile(path), c.content) << c.name;
        EXPECT_THAT(log.str(), HasSubstr("[MCPConfigurator] Failed to configure Windsurf at " + path + ": ")) << c.name;
        EXPECT_THAT(log.str(), HasSubstr(c.reason)) << c.name;
    }
}

TEST(MCPConfigurator, BlockedFolderFailsOneTargetOnly)
{
    TempHome home;
    home.write(".trae", "a plain file where the folder should be");
    std::ostringstream log;
    const auto results = MCPConfigurator(home.path(), log).configureAll("");
    EXPECT_TRUE(results[0].success && results[1].success && results[2].success);
    EXPECT_EQ(results[3], (ConfigResult{"trae", "Trae 配置失败", false, false, "Trae"}));
    const std::string text = log.str();
    const auto lines = std::count(text.begin(), text.end(), '\n');
    EXPECT_EQ(lines, 1) << log.str();
    EXPECT_THAT(log.str(), HasSubstr("[MCPConfigurator] Failed to configure Trae at " + (home / ".trae/mcp.json") + ": "));
    EXPECT_EQ(readJson(home / ".cursor/mcp.json")["mcpServers"]["quorral"]["env"]["QUORRAL_API_KEY"], "");
}

TEST(MCPConfigurator, FileWithTheKeyBecomesUserOnlyAndAReadOnlyFileIsRefused)
{
    TempHome home;
    const auto cursor = home.write(".cursor/mcp.json", R"({"mcpServers": {"other": {"command": "x"}}})");
    ::chmod(cursor.c_str(), 0644);
    const std::string readOnlyText = R"({"mcpServers": {}})";
    const auto claude = home.write(".claude/mcp.json", readOnlyText);
    ::chmod(claude.c_str(), 0444);

    std::ostringstream log;
    const auto results = MCPConfigurator(home.path(), log).configureAll(key);
    EXPECT_TRUE(results[0].success);
    struct stat st {};
    ::stat(cursor.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "an existing file holds the key now too";

    EXPECT_EQ(results[1], (ConfigResult{"claude-code", "Claude Code 配置失败", false, false, "Claude Code"}));
    EXPECT_EQ(quorral::io::readWholeFile(claude), readOnlyText);
    ::stat(claude.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_THAT(log.str(), HasSubstr("at " + claude + ": cannot replace read-only file " + claude));
    EXPECT_TRUE(results[2].success && results[3].success);
}

TEST(MCPConfigurator, RemovalTakesOutOnlyTheEntry)
{
    TempHome home;
    // The user's own file, in the user's own layout, configured and then unconfigured.
    const std::string mine = "{\n    \"mcpServers\": {\"other\": {\"command\": \"x\", \"args\": [\"1e3\"]}},\n"
                             "    \"auto\": true\n}\n";
    const auto cursor = home.write(".cursor/mcp.json", mine);
    std::ostringstream log;
    MCPConfigurator configurator(home.path(), log);
    ASSERT_TRUE(configurator.configureTarget(configurator.targets()[0], key).success);
    // A file that held nothing of the user's; one whose "mcpServers" is not ours to read.
    ASSERT_TRUE(configurator.configureTarget(configurator.targets()[1], key).success);
    const std::string odd = R"({"mcpServers": "none"})";
    home.write(".windsurf/mcp.json", odd);

    const auto results = configurator.removeEntries();
    ASSERT_EQ(results.size(), 4u);
    EXPECT_EQ(results[0], (RemovalResult{"Cursor MCP entry", cursor, RemovalResult::Outcome::removed, ""}));
    EXPECT_EQ(results[1].outcome, RemovalResult::Outcome::removed);
    EXPECT_EQ(results[2].outcome, RemovalResult::Outcome::absent);
    EXPECT_EQ(results[3].outcome, RemovalResult::Outcome::absent);

    // configure re-formatted the file; what comes back is that file less the entry.
    const auto root = readJson(cursor);
    EXPECT_EQ(root, nlohmann::json::parse(mine));
    EXPECT_FALSE(quorral::io::exists(home / ".claude/mcp.json")) << "it only held the entry";
    EXPECT_EQ(quorral::io::readWholeFile(home / ".windsurf/mcp.json"), odd);
    EXPECT_EQ(configurator.removeEntries()[0].outcome, RemovalResult::Outcome::absent);
}

TEST(MCPConfigurator, RemovalKeepsTheRestByteForByte)
{
    const std::string before = "{\n  \"mcpServers\": {\n    \"other\": {\"command\": \"x\"},\n"
                               "    \"quorral\": {\"command\": \"npx\"}\n  },\n  \"zeta\": 1.50\n}\n";
    const auto removal = MCPConfigurator::contentWithoutEntry(before);
    EXPECT_TRUE(removal.found);
    EXPECT_FALSE(removal.fileIsEmpty);
    EXPECT_EQ(removal.content,
              "{\n  \"mcpServers\": {\n    \"other\": {\"command\": \"x\"}\n  },\n  \"zeta\": 1.50\n}\n");

    EXPECT_TRUE(MCPConfigurator::contentWithoutEntry(R"({"mcpServers":{"quorral":{}}})").fileIsEmpty);
    EXPECT_FALSE(MCPConfigurator::contentWithoutEntry(R"({"mcpServers":{"quorral":{}},"a":1})").fileIsEmpty);
    EXPECT_FALSE(MCPConfigurator::contentWithoutEntry(R"({"mcpServers":{}})").found);
    EXPECT_THAT(MCPConfigurator::contentWithoutEntry("{,}").failure, HasSubstr("JSON object"));
}

TEST(MCPConfigurator, RemovalLeavesReadOnlyLinkedAndUnparsableFilesInPlace)
{
    TempHome home;
    std::ostringstream log;
    MCPConfigurator configurator(home.path(), log);
    for (const auto &target : configurator.targets())
        ASSERT_TRUE(configurator.configureTarget(target, key).success);
    const auto cursor = home / ".cursor/mcp.json";
    const auto cursorText = quorral::io::readWholeFile(cursor).value();
    ::chmod(cursor.c_str(), 0400);
    const auto trae = home / ".trae/mcp.json";
    home.write(".trae/mcp.json", "{\"mcpServers\": {\"quorral\": 1}");
    // A file kept in a dotfiles folder and linked into place stays a link.
    const auto real = home / "dotfiles/mcp.json";
    home.mkdir("dotfiles");
    ASSERT_EQ(::rename((home / ".claude/mcp.json").c_str(), real.c_str()), 0);
    ASSERT_EQ(::symlink(real.c_str(), (home / ".claude/mcp.json").c_str()), 0);

    const auto results = configurator.removeEntries();
    EXPECT_EQ(results[0].outcome, RemovalResult::Outcome::failed);
    EXPECT_THAT(results[0].problem, HasSubstr("read-only"));
    EXPECT_EQ(quorral::io::readWholeFile(cursor), cursorText);
    EXPECT_EQ(results[1].outcome, RemovalResult::Outcome::removed);
    struct stat st {};
    ASSERT_EQ(::lstat((home / ".claude/mcp.json").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readJson(real), nlohmann::json::parse(R"({"mcpServers": {}})"));
    EXPECT_EQ(results[3].outcome, RemovalResult::Outcome::failed);
    EXPECT_THAT(results[3].problem, HasSubstr("JSON object"));
    EXPECT_EQ(quorral::io::readWholeFile(trae), "{\"mcpServers\": {\"quorral\": 1}");
}
