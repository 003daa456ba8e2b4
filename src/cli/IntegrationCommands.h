#pragma once

#include <string>
#include <vector>

namespace quorral::cli {

// `quorral configure`: the MCP entries, the rules blocks and the browser host manifests,
// one line per result. `quorral unconfigure`: takes the rules blocks out again.
int runConfigure(const std::vector<std::string> &args, const std::string &home);
int runUnconfigure(const std::vector<std::string> &args, const std::string &home);

} // namespace quorral::cli
