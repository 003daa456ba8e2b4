#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorral::cli {

// Exit status for a command line we cannot make sense of.
inline constexpr int usageExitStatus = 2;

struct OptionUsage {
    std::string_view flag;     // "--json"
    std::string_view argument; // "N", or empty for a switch
    std::string_view help;
};

// One command as the help, the manual page and the shell completion describe it.
struct CommandUsage {
    std::string_view name;
    std::string_view arguments; // what follows the name in the synopsis, options excluded
    std::string_view summary;
    std::vector<OptionUsage> options;
    std::vector<std::string_view> subcommands;
};

// Every command, in the order the help lists them.
std::span<const CommandUsage> commandUsages();
const CommandUsage *findCommandUsage(std::string_view name);

std::string_view programVersion();

// The short list of all commands (for `quorral --help` and an unknown command).
std::string usageText();
// One command's synopsis, summary and options.
std::string commandUsageText(const CommandUsage &command);

// Whether `args` ask for help (-h or --help anywhere before a lone "--").
bool wantsHelp(const std::vector<std::string> &args);

// Prints "quorral: <problem>" and the usage on standard error; returns usageExitStatus.
int usageError(std::string_view problem);
// The same with only `command`'s usage.
int usageError(std::string_view command, std::string_view problem);

// The manual page (roff) and the bash completion script, both made from the table above.
std::string manualPage();
std::string bashCompletion();

} // namespace quorral::cli
