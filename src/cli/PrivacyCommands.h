#pragma once

#include <string>
#include <vector>

namespace quorral::cli {

// `quorral exclude add|remove RULE... | list`: the rules in ~/.quorral/exclude.
int runExcludeCommand(const std::vector<std::string> &args, const std::string &home);

// `quorral config redact [on|off]`: whether secrets are redacted before upload.
int runConfigCommand(const std::vector<std::string> &args, const std::string &home);

} // namespace quorral::cli
