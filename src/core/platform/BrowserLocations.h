#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorral::platform {

// Where one Chromium-family browser looks for native-messaging host manifests. The
// browser counts as installed when the parent of that folder exists; a browser with
// no build for the platform has no folder at all.
struct BrowserHostLocation {
    std::string name;
    std::optional<std::string> hostDirectory;
};

// The browsers in the order their manifests are written.
std::vector<BrowserHostLocation> browserHostLocationsForLinux(const std::string &home,
                                                              const std::optional<std::string> &xdgConfigHome);
std::vector<BrowserHostLocation> browserHostLocationsForMac(const std::string &home);
std::vector<BrowserHostLocation> browserHostLocationsForThisPlatform(const std::string &home);

// The absolute path of the executable the user runs, for the manifests' "path": the
// launcher's (QUORRAL_EXECUTABLE, which it sets) or else the running one.
std::string executablePath();

} // namespace quorral::platform
