#pragma once

#include <string_view>
#include <vector>

namespace quorral::platform {

// Started by a browser for the extension, the executable is a native-messaging host
// and nothing else; otherwise it is the application (or one of its commands).
enum class RunMode { host, application };

// `arguments` is the whole command line, the program's own path included: any
// "--native-messaging", or an argument that begins with "chrome-extension://" (the
// calling extension's origin, as browsers pass it), selects host mode.
RunMode decideRunMode(const std::vector<std::string_view> &arguments);

} // namespace quorral::platform
