#pragma once

#include <string>
#include <utility>

namespace quorral::integrations {

// What taking one of our additions out of a file did, as listed to the user.
struct RemovalResult {
    enum class Outcome { removed, absent, failed };

    std::string label; // "Cursor MCP entry"
    std::string path;
    Outcome outcome = Outcome::absent;
    std::string problem; // why it failed; empty otherwise

    static RemovalResult absent(std::string label, std::string path)
    {
        return {std::move(label), std::move(path), Outcome::absent, {}};
    }
    RemovalResult failed(std::string why) const { return {label, path, Outcome::failed, std::move(why)}; }
    RemovalResult removed() const { return {label, path, Outcome::removed, {}}; }

    bool operator==(const RemovalResult &) const = default;
};

} // namespace quorral::integrations
