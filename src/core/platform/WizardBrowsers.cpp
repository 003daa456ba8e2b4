#include "platform/WizardBrowsers.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <unistd.h>

namespace quorral::platform {

namespace {

std::vector<std::string> splitList(std::string_view text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(':', start), text.size());
        // Empty and relative entries name no fixed place: skipped.
        if (end > start && text[start] == '/')
            parts.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool isExecutableFile(const std::string &path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

bool exists(const std::string &path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

} // namespace

BrowserSearchPaths BrowserSearchPaths::fromEnvironment(const std::string &home)
{
    BrowserSearchPaths paths;
    const char *path = std::getenv("PATH");
    paths.binaryDirectories = splitList(path ? path : "");
    const char *dataDirs = std::getenv("XDG_DATA_DIRS");
    std::vector<std::string> data = splitList(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share");
    paths.applicationDirectories.push_back(home + "/.local/share/applications");
    for (const auto &directory : data)
        paths.applicationDirectories.push_back(directory + "/applications");
    return paths;
}

std::vector<BrowserInfo> wizardBrowserTable()
{
    std::vector<BrowserInfo> table{
        {"chrome", "Google Chrome", "/Applications/Google Chrome.app", "globe", chromeWebStoreSearchURL,
         {"google-chrome", "google-chrome-stable"}},
        {"arc", "Arc", "/Applications/Arc.app", "circle.grid.cross", chromeWebStoreSearchURL, {}},
        {"edge", "Microsoft Edge", "/Applications/Microsoft Edge.app", "square.stack.3d.up", edgeAddonsSearchURL,
         {"microsoft-edge", "microsoft-edge-stable"}},
        {"brave", "Brave", "/Applications/Brave Browser.app", "shield", chromeWebStoreSearchURL, {"brave-browser"}},
        {"safari", "Safari", "/Applications/Safari.app", "safari", "", {}},
        {"360", "360 浏览器", "/Applications/360Browser.app", "circle.grid.2x2", chromeWebStoreSearchURL, {}},
        {"opera", "Opera", "/Applications/Opera.app", "music.note", chromeWebStoreSearchURL, {"opera"}},
    };
#ifndef __APPLE__
    table.push_back({"chromium", "Chromium", "", "globe", chromeWebStoreSearchURL, {"chromium", "chromium-browser"}});
    table.push_back({"vivaldi", "Vivaldi", "", "globe", chromeWebStoreSearchURL, {"vivaldi", "vivaldi-stable"}});
#endif
    return table;
}

bool isInstalledOnLinux(const BrowserInfo &browser, const BrowserSearchPaths &paths)
{
    for (const auto &launcher : browser.linuxLaunchers) {
        for (const auto &directory : paths.binaryDirectories) {
            if (isExecutableFile(directory + "/" + launcher))
                return true;
        }
        for (const auto &directory : paths.applicationDirectories) {
            if (exists(directory + "/" + launcher + ".desktop"))
                return true;
        }
    }
    return false;
}

std::vector<BrowserInfo> detectBrowsers(const BrowserSearchPaths &paths)
{
    auto table = wizardBrowserTable();
    for (auto &browser : table) {
#ifdef __APPLE__
        (void)paths;
        browser.isInstalled = exists(browser.path);
#else
        browser.isInstalled = isInstalledOnLinux(browser, paths);
#endif
    }
    return table;
}

} // namespace quorral::platform
