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
    EXPECT_EQ(results[0], (ConfigResult{"cursor", "Cursor 已连接", true, true}));
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
        EXPECT_EQ(result, (ConfigResult{"windsurf", "Windsurf 配置失败", false, false})) << c.name;
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
    EXPECT_EQ(results[3], (ConfigResult{"trae", "Trae 配置失败", false, false}));
    const std::string text = log.str();
    const auto lines = std::count(text.begin(), text.end(), '\n');
    EXPECT_EQ(lines, 1) << log.str();
    EXPECT_THAT(log.str(), HasSubstr("[MCPConfigurator] Failed to configure Trae at " + (home / ".trae/mcp.json") + ": "));
    EXPECT_EQ(readJson(home / ".cursor/mcp.json")["mcpServers"]["quorral"]["env"]["QUORRAL_API_KEY"], "");
}
