#pragma once

#include "io/WriteError.h"

#include <optional>
#include <string>

namespace quorral::platform {

// The XDG autostart entry that starts Quorral at login: ".config/autostart/quorral.desktop"
// (under $XDG_CONFIG_HOME when that is set).
std::string autostartEntryPath(const std::string &home, const std::optional<std::string> &xdgConfigHome);

// The desktop entry starting `executable` (an absolute path, quoted where it must be).
std::string autostartEntry(const std::string &executable);

// Writes the entry atomically, making the folder first. Absent on success.
std::optional<io::WriteError> registerLoginItem(const std::string &home, const std::optional<std::string> &xdgConfigHome,
                                                const std::string &executable);

} // namespace quorral::platform
