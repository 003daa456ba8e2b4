#pragma once

#include <optional>
#include <string>

namespace quorral::platform {

// Where the supported AI tools keep their files on one machine. Everything that
// differs between platforms is here; scanners, the watcher and the loaders only
// concatenate below these roots.
struct ToolLocations {
    std::string home;
    // Claude Code's folder: ~/.claude, or $CLAUDE_CONFIG_DIR when that is set.
    std::string claudeDir;
    // Where Cursor's agent keeps its per-project transcripts: ~/.cursor/projects.
    std::string cursorProjects;
    // The "User" folders of the editor-style tools.
    std::string cursorUser;
    std::string windsurfUser;
    std::string vscodeUser;
    std::string traeUser;
    // The desktop ChatGPT application bundle; absent where no such build exists.
    std::optional<std::string> chatGptApp;

    static ToolLocations forLinux(const std::string &home, const std::optional<std::string> &xdgConfigHome,
                                  const std::optional<std::string> &claudeConfigDir = std::nullopt);
    static ToolLocations forMac(const std::string &home, const std::optional<std::string> &claudeConfigDir = std::nullopt);
    // The table of the platform this binary was built for, reading the environment once.
    static ToolLocations forThisPlatform(const std::string &home);
};

} // namespace quorral::platform
