#pragma once

#include <string>
#include <vector>

namespace quorral::cli {

// `quorral configure`: the MCP entries, the rules blocks and the browser host manifests,
// one line per result. `quorral unconfigure`: takes all three out again, one line for each
// file changed or left alone because of a problem; status 1 when anything was left behind.
int runConfigure(const std::vector<std::string> &args, const std::string &home);
int runUnconfigure(const std::vector<std::string> &args, const std::string &home);

} // namespace quorral::cli
