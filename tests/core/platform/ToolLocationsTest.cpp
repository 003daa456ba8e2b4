#include "platform/HomeDirectory.h"
#include "platform/ToolLocations.h"

#include <gtest/gtest.h>

#include <cstdlib>

using quorral::platform::ToolLocations;

TEST(ToolLocations, LinuxUsesDotConfigUnlessXdgConfigHomeIsSet)
{
    const auto plain = ToolLocations::forLinux("/home/ann", std::nullopt);
    EXPECT_EQ(plain.cursorUser, "/home/ann/.config/Cursor/User");
    EXPECT_EQ(plain.windsurfUser, "/home/ann/.config/Windsurf/User");
    EXPECT_EQ(plain.vscodeUser, "/home/ann/.config/Code/User");
    EXPECT_EQ(plain.traeUser, "/home/ann/.config/Trae/User");
    EXPECT_FALSE(plain.chatGptApp);

    const auto xdg = ToolLocations::forLinux("/home/ann", std::string("/srv/conf"));
    EXPECT_EQ(xdg.cursorUser, "/srv/conf/Cursor/User");
    EXPECT_EQ(xdg.home, "/home/ann");
}

TEST(ToolLocations, MacKeepsApplicationSupportAndTheChatGptBundle)
{
    const auto mac = ToolLocations::forMac("/Users/ann");
    EXPECT_EQ(mac.cursorUser, "/Users/ann/Library/Application Support/Cursor/User");
    EXPECT_EQ(mac.vscodeUser, "/Users/ann/Library/Application Support/Code/User");
    EXPECT_EQ(mac.chatGptApp, "/Applications/ChatGPT.app");
}

TEST(HomeDirectory, PrefersAnAbsoluteHomeVariable)
{
    const char *saved = std::getenv("HOME");
    const std::string before = saved ? saved : "";
    ::setenv("HOME", "/tmp/somewhere", 1);
    EXPECT_EQ(quorral::platform::homeDirectory(), "/tmp/somewhere");
    ::setenv("HOME", "relative/path", 1);
    EXPECT_NE(quorral::platform::homeDirectory(), "relative/path"); // falls back to the passwd entry
    EXPECT_EQ(quorral::platform::homeDirectory().front(), '/');
    ::setenv("HOME", before.c_str(), 1);
}

TEST(HomeDirectory, CacheDirectoryHonoursXdgCacheHome)
{
    ::setenv("XDG_CACHE_HOME", "/var/cache/ann", 1);
    EXPECT_EQ(quorral::platform::cacheDirectory("/home/ann"), "/var/cache/ann");
    ::setenv("XDG_CACHE_HOME", "not/absolute", 1);
    EXPECT_EQ(quorral::platform::cacheDirectory("/home/ann"), "/home/ann/.cache");
    ::unsetenv("XDG_CACHE_HOME");
}

TEST(ToolLocations, ClaudeCodesFolderFollowsClaudeConfigDir)
{
    EXPECT_EQ(ToolLocations::forLinux("/home/ann", std::nullopt).claudeDir, "/home/ann/.claude");
    EXPECT_EQ(ToolLocations::forMac("/Users/ann", std::string("/cfg/claude")).claudeDir, "/cfg/claude");
    EXPECT_EQ(ToolLocations::forLinux("/home/ann", std::nullopt).cursorProjects, "/home/ann/.cursor/projects");

    const struct {
        const char *value;
        std::optional<std::string> dir;
    } cases[] = {{"/srv/claude", "/srv/claude"}, {"/srv/claude//", "/srv/claude"}, {"relative/claude", std::nullopt},
                 {"", std::nullopt}, {"/", "/"}};
    for (const auto &c : cases) {
        ::setenv("CLAUDE_CONFIG_DIR", c.value, 1);
        EXPECT_EQ(quorral::platform::claudeConfigDirOverride(), c.dir) << c.value;
        EXPECT_EQ(ToolLocations::forThisPlatform("/home/ann").claudeDir, c.dir.value_or("/home/ann/.claude")) << c.value;
    }
    ::unsetenv("CLAUDE_CONFIG_DIR");
    EXPECT_EQ(ToolLocations::forThisPlatform("/home/ann").claudeDir, "/home/ann/.claude");
}
