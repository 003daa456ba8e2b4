#pragma once

#include <string>
#include <vector>

namespace quorral::cli {

// `quorral scan [--json] | --show PATH`: a dry run of a full scan. It uses a tracker of
// its own that is never persisted, so background sync's records stay as they are.
int runScanCommand(const std::vector<std::string> &args, const std::string &home);

} // namespace quorral::cli
