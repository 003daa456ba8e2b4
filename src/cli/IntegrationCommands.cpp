#include "cli/IntegrationCommands.h"

#include "cli/Usage.h"
#include "credentials/KeychainHelper.h"
#include "integrations/MCPConfigurator.h"
#include "integrations/NativeMessagingConfigurator.h"
#include "integrations/RulesFileManager.h"
#include "platform/BrowserLocations.h"

#include <iostream>

namespace quorral::cli {

using namespace quorral::integrations;

int runConfigure(const std::vector<std::string> &args, const std::string &home)
{
    if (!args.empty())
        return usageError("configure takes no arguments");
    credentials::NoLegacyKeychain legacy;
    const auto key = credentials::KeychainHelper(home, legacy).load();
    if (!credentials::isValidApiKey(key))
        std::cerr << "quorral: not signed in: the MCP entries get an empty key until you run `quorral login` and "
                     "`quorral configure` again\n";

    bool allWritten = true;
    for (const auto &result : MCPConfigurator(home, std::cout).configureAll(key.value_or(""))) {
        std::cout << (result.success ? "ok      " : "failed  ") << result.label;
        if (result.needsRestart)
            std::cout << "  (restart the tool to pick it up)";
        std::cout << "\n";
        allWritten = allWritten && result.success;
    }

    const auto browsers = NativeMessagingConfigurator::configureAll(platform::browserHostLocationsForThisPlatform(home),
                                                                    NativeMessagingConfigurator::productExtensionID,
                                                                    platform::executablePath());
    for (const auto &browser : browsers) {
        std::cout << (browser.success ? "ok      " : "failed  ") << browser.browser << " extension host"
                  << (browser.success ? " installed" : " could not be written") << "\n";
        allWritten = allWritten && browser.success;
    }
    if (browsers.empty())
        std::cout << "no supported browser found for the extension host\n";
    std::cout.flush();
    return allWritten ? 0 : 1;
}

int runUnconfigure(const std::vector<std::string> &args, const std::string &home)
{
    if (!args.empty())
        return usageError("unconfigure takes no arguments");
    RulesFileManager::removeAll(home);
    std::cout << "Removed the Quorral block from the rules files." << std::endl;
    return 0;
}

} // namespace quorral::cli
