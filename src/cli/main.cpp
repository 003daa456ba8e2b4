#include "Application.h"
#include "api/Config.h"
#include "cli/ScanCommand.h"
#include "cli/ServiceCommands.h"
#include "cli/ConversationsCommand.h"
#include "cli/IntegrationCommands.h"
#include "cli/PrivacyCommands.h"
#include "cli/Usage.h"
#include "platform/HomeDirectory.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    // The native-messaging host never gets here: the Qt-free launcher serves it.
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool quickInput = args.size() == 1 && args[0] == "--quick-input";
    if (args.empty() || quickInput) {
        if (!quorral::platform::hasGraphicalSession()) {
            std::cerr << "quorral: no graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set), so the tray "
                         "application cannot start. Everything it does is also a command:\n"
                      << quorral::cli::usageText();
            return 1;
        }
        try {
            quorral::api::Config::fromEnvironment();
        } catch (const quorral::api::ConfigError &error) {
            std::cerr << "quorral: " << error.what() << "\n";
            return 2;
        }
        return quorral::app::runApplication(argc, argv, quorral::platform::homeDirectory(), quickInput);
    }
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << quorral::cli::usageText();
        return 0;
    }
    if (command == "--version" || command == "-V") {
        std::cout << "quorral " << quorral::cli::programVersion() << "\n";
        return 0;
    }
    const auto *usage = quorral::cli::findCommandUsage(command);
    if (usage == nullptr)
        return quorral::cli::usageError("unknown command '" + command + "'");
    if (quorral::cli::wantsHelp(args)) {
        std::cout << quorral::cli::commandUsageText(*usage);
        return 0;
    }
    // A service address that cannot be used stops the commands that talk to the service;
    // the ones that only read local logs run without it.
    if (command != "scan" && command != "conversations" && command != "unconfigure" && command != "exclude"
        && command != "config") {
        try {
            quorral::api::Config::fromEnvironment();
        } catch (const quorral::api::ConfigError &error) {
            std::cerr << "quorral: " << error.what() << "\n";
            return 2;
        }
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
    if (command == "conversations")
        return quorral::cli::runConversationsCommand(args, home);
    if (command == "configure")
        return quorral::cli::runConfigure(args, home);
    if (command == "unconfigure")
        return quorral::cli::runUnconfigure(args, home);
    if (command == "exclude")
        return quorral::cli::runExcludeCommand(args, home);
    if (command == "config")
        return quorral::cli::runConfigCommand(args, home);
    return quorral::cli::usageError("unknown command '" + command + "'");
}
