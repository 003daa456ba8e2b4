#include "platform/ToolLocations.h"

#include "platform/HomeDirectory.h"

namespace quorral::platform {

ToolLocations ToolLocations::forLinux(const std::string &home, const std::optional<std::string> &xdgConfigHome,
                                      const std::optional<std::string> &claudeConfigDir)
{
    const std::string config = xdgConfigHome.value_or(home + "/.config");
    return ToolLocations{
        .home = home,
        .claudeDir = claudeConfigDir.value_or(home + "/.claude"),
        .cursorProjects = home + "/.cursor/projects",
        .cursorUser = config + "/Cursor/User",
        .windsurfUser = config + "/Windsurf/User",
        .vscodeUser = config + "/Code/User",
        .traeUser = config + "/Trae/User",
        .chatGptApp = std::nullopt,
    };
}

ToolLocations ToolLocations::forMac(const std::string &home, const std::optional<std::string> &claudeConfigDir)
{
    const std::string support = home + "/Library/Application Support";
    return ToolLocations{
        .home = home,
        .claudeDir = claudeConfigDir.value_or(home + "/.claude"),
        .cursorProjects = home + "/.cursor/projects",
        .cursorUser = support + "/Cursor/User",
        .windsurfUser = support + "/Windsurf/User",
        .vscodeUser = support + "/Code/User",
        .traeUser = support + "/Trae/User",
        .chatGptApp = std::string("/Applications/ChatGPT.app"),
    };
}

ToolLocations ToolLocations::forThisPlatform(const std::string &home)
{
#ifdef __APPLE__
    return forMac(home, claudeConfigDirOverride());
#else
    return forLinux(home, xdgConfigHomeOverride(), claudeConfigDirOverride());
#endif
}

} // namespace quorral::platform
