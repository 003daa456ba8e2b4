#include "platform/BrowserLocations.h"

#include "platform/HomeDirectory.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>
#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

namespace quorral::platform {

std::vector<BrowserHostLocation> browserHostLocationsForLinux(const std::string &home,
                                                              const std::optional<std::string> &xdgConfigHome)
{
    const std::string config = xdgConfigHome.value_or(home + "/.config");
    return {
        {"Chrome", config + "/google-chrome/NativeMessagingHosts"},
        {"Arc", std::nullopt},
        {"Edge", config + "/microsoft-edge/NativeMessagingHosts"},
        {"Brave", config + "/BraveSoftware/Brave-Browser/NativeMessagingHosts"},
        {"Opera", config + "/opera/NativeMessagingHosts"},
        {"Chromium", config + "/chromium/NativeMessagingHosts"},
        {"Vivaldi", config + "/vivaldi/NativeMessagingHosts"},
    };
}

std::vector<BrowserHostLocation> browserHostLocationsForMac(const std::string &home)
{
    const std::string support = home + "/Library/Application Support/";
    return {
        {"Chrome", support + "Google/Chrome/NativeMessagingHosts"},
        {"Arc", support + "Arc/User Data/NativeMessagingHosts"},
        {"Edge", support + "Microsoft Edge/NativeMessagingHosts"},
        {"Brave", support + "BraveSoftware/Brave-Browser/NativeMessagingHosts"},
        {"Opera", support + "com.operasoftware.Opera/NativeMessagingHosts"},
        {"Chromium", support + "Chromium/NativeMessagingHosts"},
    };
}

std::vector<BrowserHostLocation> browserHostLocationsForThisPlatform(const std::string &home)
{
#ifdef __APPLE__
    return browserHostLocationsForMac(home);
#else
    return browserHostLocationsForLinux(home, xdgConfigHomeOverride());
#endif
}

std::string executablePath()
{
    // Set by the launcher for the program it starts: the user's executable is the launcher.
    if (const char *launcher = std::getenv("QUORRAL_EXECUTABLE"); launcher != nullptr && launcher[0] == '/')
        return launcher;
#ifdef __APPLE__
    char buffer[PATH_MAX];
    uint32_t size = sizeof buffer;
    char resolved[PATH_MAX];
    if (_NSGetExecutablePath(buffer, &size) == 0 && ::realpath(buffer, resolved))
        return resolved;
    return "/Applications/Quorral.app/Contents/MacOS/Quorral";
#else
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0)
        return std::string(buffer, static_cast<std::size_t>(n));
    return "/usr/bin/quorral";
#endif
}

} // namespace quorral::platform
