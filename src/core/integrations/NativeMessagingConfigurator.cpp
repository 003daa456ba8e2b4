#include "integrations/NativeMessagingConfigurator.h"

#include "io/AtomicWrite.h"
#include "io/ReadFile.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace quorral::integrations::NativeMessagingConfigurator {

std::string buildManifest(std::string_view extensionID, const std::string &executablePath)
{
    const nlohmann::json manifest = {
        {"name", "com.quorral.native"},
        {"description", "Quorral Native Messaging Host — API Key sync & extension bridge"},
        {"path", executablePath},
        {"type", "stdio"},
        {"allowed_origins", {"chrome-extension://" + std::string(extensionID) + "/"}},
    };
    return manifest.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<Result> configureAll(const std::vector<platform::BrowserHostLocation> &browsers,
                                 std::string_view extensionID, const std::string &executablePath)
{
    const std::string manifest = buildManifest(extensionID, executablePath);
    std::vector<Result> results;
    for (const auto &browser : browsers) {
        if (!browser.hostDirectory || !io::exists(io::parentDirectory(*browser.hostDirectory)))
            continue;
        const auto &hostDirectory = *browser.hostDirectory;
        const bool written = !io::createDirectories(hostDirectory) &&
                             !io::writeFileAtomically(hostDirectory + "/" + std::string(manifestFileName), manifest);
        results.push_back({browser.name, browser.name, written});
    }
    return results;
}

std::vector<RemovalResult> removeAll(const std::vector<platform::BrowserHostLocation> &browsers)
{
    std::vector<RemovalResult> results;
    for (const auto &browser : browsers) {
        if (!browser.hostDirectory)
            continue;
        RemovalResult result{.label = browser.name + " extension host",
                             .path = *browser.hostDirectory + "/" + std::string(manifestFileName),
                             .outcome = RemovalResult::Outcome::absent,
                             .problem = {}};
        struct stat st {};
        if (::lstat(result.path.c_str(), &st) == 0) {
            if (io::isReadOnly(result.path)) {
                result.outcome = RemovalResult::Outcome::failed;
                result.problem = "the manifest is read-only; it was left as it is";
            } else if (::unlink(result.path.c_str()) != 0) {
                result.outcome = RemovalResult::Outcome::failed;
                result.problem = io::WriteError{"remove", result.path, errno}.message();
            } else {
                result.outcome = RemovalResult::Outcome::removed;
            }
        }
        results.push_back(std::move(result));
    }
    return results;
}

} // namespace quorral::integrations::NativeMessagingConfigurator
