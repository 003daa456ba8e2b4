#include "api/Config.h"
#include "cli/ScanCommand.h"
#include "cli/ServiceCommands.h"
#include "cli/Usage.h"
#include "platform/HomeDirectory.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << quorral::cli::usageText();
        return 1;
    }
    const std::string command = args.front();
    args.erase(args.begin());
    // A service address that cannot be used stops every command before it starts.
    try {
        quorral::api::Config::fromEnvironment();
    } catch (const quorral::api::ConfigError &error) {
        std::cerr << "quorral: " << error.what() << "\n";
        return 2;
    }
    const std::string home = quorral::platform::homeDirectory();
    if (command == "scan")
        return quorral::cli::runScanCommand(args, home);
    if (command == "login")
        return quorral::cli::runLogin(args, home);
    if (command == "logout")
        return quorral::cli::runLogout(args, home);
    if (command == "status")
        return quorral::cli::runStatus(args, home);
    if (command == "remember")
        return quorral::cli::runRemember(args, home);
    if (command == "sync")
        return quorral::cli::runSync(args, home);
    if (command == "daemon")
        return quorral::cli::runDaemon(args, home);
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << quorral::cli::usageText();
        return 0;
    }
    return quorral::cli::usageError("unknown command '" + command + "'");
}
