#include "sync/SettingsCache.h"

#include "io/FileDescriptor.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

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
    const std::string dir = home + "/.quorral";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const nlohmann::json body = {{"incognito_global", incognitoGlobal},
                                 {"incognito_sources", incognitoSources},
                                 {"updated_at", internetDateTime(now)}};
    std::string bytes;
    try {
        bytes = body.dump();
    } catch (const nlohmann::json::exception &) {
        return; // a source name that is not UTF-8
    }
    const std::string temporary = dir + "/settings-cache.json.tmp";
    {
        io::FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!fd)
            return;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                ::unlink(temporary.c_str());
                return;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    if (::rename(temporary.c_str(), settingsCachePath(home).c_str()) != 0)
        ::unlink(temporary.c_str());
}

} // namespace quorral::sync
