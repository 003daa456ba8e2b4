// quorral-loggen: fills a directory with generated AI-tool logs, as a home to scan.
#include "LogGenerator.h"

#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    std::string home;
    std::uint64_t seed = 1;
    quorral::loggen::HomeSpec spec;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "quorral-loggen: " << arg << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--home")
            home = next();
        else if (arg == "--seed")
            seed = std::stoull(next());
        else if (arg == "--megabytes")
            spec.claudeBytes = std::stoull(next()) << 20;
        else if (arg == "--codex-megabytes")
            spec.codexBytes = std::stoull(next()) << 20;
        else if (arg == "--gemini-megabytes")
            spec.geminiBytes = std::stoull(next()) << 20;
        else if (arg == "--projects")
            spec.projects = std::stoi(next());
        else {
            std::cerr << "usage: quorral-loggen --home DIR [--seed N] [--megabytes N] [--codex-megabytes N] [--gemini-megabytes N] [--projects N]\n";
            return 2;
        }
    }
    if (home.empty()) {
        std::cerr << "usage: quorral-loggen --home DIR [--seed N] [--megabytes N] [--codex-megabytes N] [--gemini-megabytes N] [--projects N]\n";
        return 2;
    }
    quorral::loggen::LogGenerator generator(seed);
    const auto summary = generator.populateHome(home, spec);
    std::cout << "wrote " << summary.claudeSessions << " Claude Code sessions (" << (summary.claudeBytes >> 20)
              << " MiB), " << summary.codexSessions << " Codex rollouts (" << (summary.codexBytes >> 20) << " MiB), "
              << summary.geminiChats << " Gemini CLI chats (" << (summary.geminiBytes >> 20) << " MiB) and "
              << summary.otherFiles << " other files below " << home << "\n";
    return 0;
}
