#include "cli/ScanCommand.h"
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
    if (command == "scan")
        return quorral::cli::runScanCommand(args, quorral::platform::homeDirectory());
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << quorral::cli::usageText();
        return 0;
    }
    return quorral::cli::usageError("unknown command '" + command + "'");
}
