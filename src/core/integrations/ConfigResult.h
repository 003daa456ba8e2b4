#pragma once

#include <string>

namespace quorral::integrations {

// The outcome of configuring one AI tool, as listed to the user.
struct ConfigResult {
    std::string id;
    std::string label;
    bool success = false;
    bool needsRestart = false;
    std::string name; // the tool's name alone, for front ends that word the result themselves

    bool operator==(const ConfigResult &) const = default;
};

} // namespace quorral::integrations
