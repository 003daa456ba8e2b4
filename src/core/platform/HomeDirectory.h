#pragma once

#include <optional>
#include <string>

namespace quorral::platform {

// The current user's home directory: $HOME when it is set and absolute, else the
// passwd entry (the freedesktop rule). Production asks once and passes the result on.
std::string homeDirectory();

// $XDG_CONFIG_HOME when set to an absolute path.
std::optional<std::string> xdgConfigHomeOverride();

// $CLAUDE_CONFIG_DIR when set to an absolute path: Claude Code then keeps its folder there.
std::optional<std::string> claudeConfigDirOverride();

// Whether a graphical session is there for windows and a tray: DISPLAY or WAYLAND_DISPLAY set.
bool hasGraphicalSession();

// The per-user caches directory: $XDG_CACHE_HOME when absolute, else home + "/.cache"
// (on macOS home + "/Library/Caches").
std::string cacheDirectory(const std::string &home);

} // namespace quorral::platform
