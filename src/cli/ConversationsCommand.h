#pragma once

#include <string>
#include <vector>

namespace quorral::cli {

// `quorral conversations [--source S] [--time T] [--search TEXT] [--json]` lists the local
// conversations newest first; `quorral conversations show ID [--markdown]` prints one.
// Both read and refresh the browser's summary cache.
int runConversationsCommand(const std::vector<std::string> &args, const std::string &home);

} // namespace quorral::cli
