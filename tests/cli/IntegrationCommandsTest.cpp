#include "Subprocess.h"
#include "TempHome.h"
#include "io/ReadFile.h"

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

using quorral::test::Subprocess;
using quorral::test::TempHome;
using testing::HasSubstr;

namespace {

struct Run {
    int status;
    std::string out, err;
};

Run run(const TempHome &home, const std::string &command)
{
    Subprocess process({QUORRAL_EXECUTABLE, command},
                       {{"HOME", home.path()}, {"XDG_CONFIG_HOME", home / ".config"}, {"DISPLAY", ""}});
    const int status = process.wait();
    return {status, process.output(), process.errorOutput()};
}

} // namespace

TEST(IntegrationCommands, UnconfigureTakesOutWhatConfigurePutIn)
{
    TempHome home;
    home.mkdir(".config/chromium");
    const std::string mine = "{\n  \"mcpServers\": {\n    \"other\": {\"command\": \"x\"}\n  },\n  \"theme\": \"dark\"\n}\n";
    const auto cursor = home.write(".cursor/mcp.json", mine);
    const auto codex = home.write(".codex/instructions.md", "Run the tests.\n");
    const auto otherHost = home.write(".config/chromium/NativeMessagingHosts/com.other.json", "{}");

    const auto configured = run(home, "configure");
    ASSERT_EQ(configured.status, 0) << configured.out << configured.err;
    const auto manifest = home / ".config/chromium/NativeMessagingHosts/com.quorral.native.json";
    ASSERT_TRUE(quorral::io::exists(manifest));
    ASSERT_TRUE(nlohmann::json::parse(quorral::io::readWholeFile(cursor).value())["mcpServers"].contains("quorral"));

    const auto removed = run(home, "unconfigure");
    ASSERT_EQ(removed.status, 0) << removed.out << removed.err;
    EXPECT_THAT(removed.out, HasSubstr("removed Cursor MCP entry (" + cursor + ")\n"));
    EXPECT_THAT(removed.out, HasSubstr("removed Codex rules block (" + codex + ")\n"));
    EXPECT_THAT(removed.out, HasSubstr("removed Chromium extension host (" + manifest + ")\n"));

    EXPECT_EQ(nlohmann::json::parse(quorral::io::readWholeFile(cursor).value()), nlohmann::json::parse(mine));
    EXPECT_FALSE(quorral::io::exists(home / ".claude/mcp.json")) << "created by configure for the entry alone";
    EXPECT_FALSE(quorral::io::exists(home / ".cursor/rules/quorral.mdc"));
    EXPECT_EQ(quorral::io::readWholeFile(codex), "Run the tests.\n");
    EXPECT_FALSE(quorral::io::exists(manifest));
    EXPECT_EQ(quorral::io::readWholeFile(otherHost), "{}");

    const auto again = run(home, "unconfigure");
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, "Nothing of Quorral's was left in the tools' files.\n");
}

TEST(IntegrationCommands, UnconfigureReportsWhatItHadToLeave)
{
    TempHome home;
    ASSERT_EQ(run(home, "configure").status, 0);
    const auto trae = home / ".trae/mcp.json";
    const auto before = quorral::io::readWholeFile(trae).value();
    ::chmod(trae.c_str(), 0400);

    const auto removed = run(home, "unconfigure");
    EXPECT_EQ(removed.status, 1);
    EXPECT_THAT(removed.out, HasSubstr("failed  Trae MCP entry (" + trae + "): the file is read-only"));
    EXPECT_THAT(removed.out, HasSubstr("removed Windsurf MCP entry"));
    EXPECT_EQ(quorral::io::readWholeFile(trae), before);
}
