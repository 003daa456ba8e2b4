#include "platform/HomeDirectory.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace quorral::platform {
namespace {

std::optional<std::string> absoluteEnv(const char *name)
{
    const char *value = std::getenv(name);
    if (value == nullptr || value[0] != '/')
        return std::nullopt;
    return std::string(value);
}

} // namespace

std::string homeDirectory()
{
#ifdef __APPLE__
    // Outside a sandbox the passwd entry is what the system's own query answers.
    if (const passwd *pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return absoluteEnv("HOME").value_or("/");
#else
    if (auto home = absoluteEnv("HOME"))
        return *home;
    if (const passwd *pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return "/";
#endif
}

std::optional<std::string> xdgConfigHomeOverride()
{
    return absoluteEnv("XDG_CONFIG_HOME");
}

std::optional<std::string> claudeConfigDirOverride()
{
    auto dir = absoluteEnv("CLAUDE_CONFIG_DIR");
    while (dir && dir->size() > 1 && dir->back() == '/')
        dir->pop_back();
    return dir;
}

bool hasGraphicalSession()
{
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char *value = std::getenv(name);
        if (value != nullptr && value[0] != '\0')
            return true;
    }
    return false;
}

std::string cacheDirectory(const std::string &home)
{
#ifdef __APPLE__
    return home + "/Library/Caches";
#else
    return absoluteEnv("XDG_CACHE_HOME").value_or(home + "/.cache");
#endif
}

} // namespace quorral::platform
