#include "cli/PrivacyCommands.h"

#include "cli/Usage.h"
#include "privacy/ExcludeRules.h"
#include "privacy/PrivacySettings.h"
#include "settings/QSettingsDefaultsStore.h"
#include "text/TerminalText.h"

#include <filesystem>
#include <iostream>

namespace quorral::cli {
namespace {

std::string workingDirectory()
{
    std::error_code error;
    const auto path = std::filesystem::current_path(error);
    return error ? std::string("/") : path.string();
}

int editRules(const std::vector<std::string> &args, const std::string &home, bool add)
{
    if (args.size() < 2)
        return usageError("exclude", std::string(add ? "add" : "remove") + " needs a PATH, GLOB or tool:ID");
    int status = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const auto rule = privacy::normalisedRule(args[i], workingDirectory());
        if (rule.empty() || rule == "tool:") {
            status = usageError("exclude", "an empty rule");
            continue;
        }
        const auto edit = add ? privacy::addExcludeRule(home, rule) : privacy::removeExcludeRule(home, rule);
        const auto shown = text::escapeForTerminal(rule);
        if (edit.error) {
            std::cerr << "quorral: " << text::escapeForTerminal(edit.error->message()) << "\n";
            status = 1;
        } else if (add) {
            std::cout << (edit.changed ? "Excluded: " : "Already excluded: ") << shown << "\n";
        } else if (edit.changed) {
            std::cout << "No longer excluded: " << shown << "\n";
        } else {
            std::cerr << "quorral: no rule " << shown << " in " << privacy::excludeFilePath(home)
                      << " (see `quorral exclude list`)\n";
            status = 1;
        }
    }
    return status;
}

} // namespace

int runExcludeCommand(const std::vector<std::string> &args, const std::string &home)
{
    if (args.empty())
        return usageError("exclude", "add, remove or list?");
    const auto &action = args.front();
    if (action == "add" || action == "remove")
        return editRules(args, home, action == "add");
    if (action != "list")
        return usageError("exclude", "unknown action '" + action + "'");
    if (args.size() > 1)
        return usageError("exclude", "list takes no arguments");
    const auto rules = privacy::readExcludeRules(home);
    if (rules.empty()) {
        std::cerr << "No exclude rules (" << privacy::excludeFilePath(home) << ").\n";
        return 0;
    }
    for (const auto &rule : rules)
        std::cout << text::escapeForTerminal(rule) << "\n";
    return 0;
}

int runConfigCommand(const std::vector<std::string> &args, const std::string &)
{
    if (args.empty() || args.front() != "redact")
        return usageError("config", args.empty() ? "which setting? (redact)" : "unknown setting '" + args.front() + "'");
    if (args.size() > 2)
        return usageError("config", "redact takes on or off");
    settings::QSettingsDefaultsStore store;
    if (args.size() == 1) {
        std::cout << "redact " << (privacy::redactionEnabled(store) ? "on" : "off") << "\n";
        return 0;
    }
    const auto &value = args[1];
    if (value != "on" && value != "off")
        return usageError("config", "redact takes on or off, not '" + value + "'");
    privacy::setRedactionEnabled(store, value == "on");
    store.sync();
    std::cout << (value == "on" ? "Secrets are redacted before upload.\n"
                                : "Secrets are no longer redacted: transcripts and settings files are uploaded as they are.\n");
    return 0;
}

} // namespace quorral::cli
