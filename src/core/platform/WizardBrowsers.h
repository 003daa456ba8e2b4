#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorral::platform {

// One browser the setup wizard offers the extension for.
struct BrowserInfo {
    std::string id;
    std::string name;
    std::string path;     // the macOS application bundle whose existence means installed
    std::string icon;     // symbol name
    std::string storeURL; // empty: no extension for this browser yet
    // Linux: launchers on PATH, or desktop entries "<launcher>.desktop", that mean installed.
    std::vector<std::string> linuxLaunchers;
    bool isInstalled = false;
};

// Where the Linux detection looks: the PATH folders and the applications folders.
struct BrowserSearchPaths {
    std::vector<std::string> binaryDirectories;
    std::vector<std::string> applicationDirectories;

    // From $PATH, $XDG_DATA_DIRS (default /usr/local/share:/usr/share) and the home's
    // .local/share.
    static BrowserSearchPaths fromEnvironment(const std::string &home);
};

inline constexpr const char *chromeWebStoreSearchURL = "https://chromewebstore.google.com/search/Quorral";
inline constexpr const char *edgeAddonsSearchURL = "https://microsoftedge.microsoft.com/addons/search/Quorral";

// The wizard's browsers in detection order, none marked installed. Chromium and Vivaldi
// follow on Linux, where their launchers count too.
std::vector<BrowserInfo> wizardBrowserTable();

// The table with `isInstalled` worked out for this machine: on Linux through `paths`, on
// macOS through the bundle paths.
std::vector<BrowserInfo> detectBrowsers(const BrowserSearchPaths &paths);

bool isInstalledOnLinux(const BrowserInfo &browser, const BrowserSearchPaths &paths);

} // namespace quorral::platform
