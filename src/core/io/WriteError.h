#pragma once

#include <string>

namespace quorral::io {

// Why a write did not happen: the step, the path it was applied to and the errno.
struct WriteError {
    std::string step;
    std::string path;
    int error = 0;

    // "cannot create /home/u/.cursor/mcp.json.quorral.tmp: Permission denied"
    std::string message() const;

    bool operator==(const WriteError &) const = default;
};

} // namespace quorral::io
