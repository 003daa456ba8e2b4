#include "api/Config.h"
#include "cli/ScanCommand.h"
#include "cli/ServiceCommands.h"
#include "cli/ConversationsCommand.h"
#include "cli/IntegrationCommands.h"
#include "cli/Usage.h"
#include "integrations/NativeMessagingHandler.h"
#include "platform/HomeDirectory.h"
#include "platform/RunMode.h"

#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Host mode: only frames may reach standard output. The frames get a descriptor of their
// own and descriptor 1 is pointed at standard error, so a stray line from any library
// lands in the browser's log instead of corrupting the stream.
int runNativeMessagingHost()
{
    std::signal(SIGPIPE, SIG_IGN); // a closed pipe ends the loop instead of the process
    const int frames = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (frames < 0)
        return 0;
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    const int status =
        quorral::integrations::NativeMessagingHandler::runHost(quorral::platform::homeDirectory(), STDIN_FILENO, frames);
    ::close(frames);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    // Decided before anything else exists: a browser starting us gets the host and nothing more.
    if (quorral::platform::decideRunMode(std::vector<std::string_view>(argv, argv + argc)) ==
        quorral::platform::RunMode::host)
        return runNativeMessagingHost();

    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return quorral::cli::usageError("which command? (`quorral --help` lists them)");
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
    if (command != "scan" && command != "conversations" && command != "unconfigure") {
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
    return quorral::cli::usageError("unknown command '" + command + "'");
}
