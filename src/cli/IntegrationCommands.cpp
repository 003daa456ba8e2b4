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
        return usageError("configure", "takes no arguments");
    credentials::NoLegacyKeychain legacy;
    const auto key = credentials::KeychainHelper(home, legacy).load();
    if (!credentials::isValidApiKey(key))
        std::cerr << "quorral: not signed in: the MCP entries get an empty key until you run `quorral login` and "
                     "`quorral configure` again\n";

    bool allWritten = true;
    // The labels are the windows' words; the command line says its own from the result.
    for (const auto &result : MCPConfigurator(home, std::cerr).configureAll(key.value_or(""))) {
        const bool rules = result.id.starts_with("rules-");
        std::cout << (result.success ? "ok      " : "failed  ") << result.name
                  << (rules ? (result.success ? " rules written" : " rules could not be written")
                            : (result.success ? " connected" : " could not be connected"));
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
        return usageError("unconfigure", "takes no arguments");
    std::vector<RemovalResult> results = MCPConfigurator(home, std::cerr).removeEntries();
    for (auto &result : RulesFileManager::removeAll(home))
        results.push_back(std::move(result));
    for (auto &result : NativeMessagingConfigurator::removeAll(platform::browserHostLocationsForThisPlatform(home)))
        results.push_back(std::move(result));

    bool allRemoved = true;
    bool anyRemoved = false;
    for (const auto &result : results) {
        switch (result.outcome) {
        case RemovalResult::Outcome::removed:
            std::cout << "removed " << result.label << " (" << result.path << ")\n";
            anyRemoved = true;
            break;
        case RemovalResult::Outcome::failed:
            std::cout << "failed  " << result.label << " (" << result.path << "): " << result.problem << "\n";
            allRemoved = false;
            break;
        case RemovalResult::Outcome::absent:
            break;
        }
    }
    if (!anyRemoved && allRemoved)
        std::cout << "Nothing of Quorral's was left in the tools' files.\n";
    std::cout.flush();
    return allRemoved ? 0 : 1;
}

} // namespace quorral::cli
