#include "platform/RunMode.h"

#include <algorithm>

namespace quorral::platform {

RunMode decideRunMode(const std::vector<std::string_view> &arguments)
{
    const bool host = std::ranges::any_of(arguments, [](std::string_view argument) {
        return argument == "--native-messaging" || argument.starts_with("chrome-extension://");
    });
    return host ? RunMode::host : RunMode::application;
}

} // namespace quorral::platform
