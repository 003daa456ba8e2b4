#pragma once

#include <string>
#include <vector>

namespace quorral::cli {

// The commands that talk to the memory service. Each returns the process exit status.
int runLogin(const std::vector<std::string> &args, const std::string &home);
int runLogout(const std::vector<std::string> &args, const std::string &home);
int runStatus(const std::vector<std::string> &args, const std::string &home);
int runRemember(const std::vector<std::string> &args, const std::string &home);
int runSync(const std::vector<std::string> &args, const std::string &home);
// Background sync without a window, until SIGINT or SIGTERM.
int runDaemon(const std::vector<std::string> &args, const std::string &home);

} // namespace quorral::cli
