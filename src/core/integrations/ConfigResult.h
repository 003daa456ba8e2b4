#pragma once

#include <string>

namespace quorral::integrations {

// The outcome of configuring one AI tool, as listed to the user.
struct ConfigResult {
    std::string id;
    std::string label;
    bool success = false;
    bool needsRestart = false;

    bool operator==(const ConfigResult &) const = default;
};

} // namespace quorral::integrations
