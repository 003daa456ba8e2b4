#pragma once

#include <string>

namespace quorral::integrations {

// What taking one of our additions out of a file did, as listed to the user.
struct RemovalResult {
    enum class Outcome { removed, absent, failed };

    std::string label; // "Cursor MCP entry"
    std::string path;
    Outcome outcome = Outcome::absent;
    std::string problem; // why it failed; empty otherwise

    bool operator==(const RemovalResult &) const = default;
};

} // namespace quorral::integrations
