#pragma once

#include "platform/ToolLocations.h"

#include <string>
#include <vector>

namespace quorral::sync {

// A directory whose changes mean that one tool's scanner has something new.
struct WatchTarget {
    std::string path;
    std::string scanner;

    friend bool operator==(const WatchTarget &, const WatchTarget &) = default;
};

// The watched directories of seven tools, in order (the three Cursor ones share a scanner).
std::vector<WatchTarget> watchPaths(const platform::ToolLocations &locations);

} // namespace quorral::sync
