#include "sync/SettingsCache.h"

#include "io/AtomicWrite.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>

namespace quorral::sync {

std::string settingsCachePath(const std::string &home)
{
    return home + "/.quorral/settings-cache.json";
}

std::string internetDateTime(std::chrono::system_clock::time_point when)
{
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

void writeSettingsCache(const std::string &home, bool incognitoGlobal, const std::vector<std::string> &incognitoSources,
                        std::chrono::system_clock::time_point now)
{
    io::createDirectories(home + "/.quorral");
    const nlohmann::json body = {{"incognito_global", incognitoGlobal},
                                 {"incognito_sources", incognitoSources},
                                 {"updated_at", internetDateTime(now)}};
    std::string bytes;
    try {
        bytes = body.dump();
    } catch (const nlohmann::json::exception &) {
        return; // a source name that is not UTF-8
    }
    io::writeFileAtomically(settingsCachePath(home), bytes);
}

} // namespace quorral::sync
