#pragma once

#include <string>

namespace quorral::app {

// The desktop application until it quits (tray menu, panel, SIGINT or SIGTERM): the
// process's exit status. With another one already running for this home, hands it the
// request (show the panel, or open the quick input) and returns 0 at once.
int runApplication(int argc, char **argv, const std::string &home, bool quickInput);

} // namespace quorral::app
