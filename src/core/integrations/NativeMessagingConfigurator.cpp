#include "integrations/NativeMessagingConfigurator.h"

#include "io/AtomicWrite.h"
#include "io/ReadFile.h"

#include <nlohmann/json.hpp>

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

} // namespace quorral::integrations::NativeMessagingConfigurator
