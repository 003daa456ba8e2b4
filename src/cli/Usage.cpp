#include "cli/Usage.h"

#include <algorithm>
#include <iostream>

#ifndef QUORRAL_VERSION
#define QUORRAL_VERSION "0.0.0"
#endif

namespace quorral::cli {
namespace {

const std::vector<CommandUsage> &table()
{
    static const std::vector<CommandUsage> commands{
        {"scan", "", "show what a full scan of your AI tools would find",
         {{"--json", "", "print the result as JSON"},
          {"--show", "PATH", "print the transcript that would be uploaded for one log file"}},
         {}},
        {"login", "", "sign in to the memory service in the browser", {}, {}},
        {"logout", "", "forget the stored key", {}, {}},
        {"status", "", "the account, its statistics, the last sync and the files it could not upload", {}, {}},
        {"remember", "[TEXT... | -]",
         "save one memory (TEXT, or standard input when it is - or left out; -- before a text starting with -)",
         {},
         {}},
        {"sync", "", "upload what is new in your AI tools",
         {{"--dry-run", "", "list what would be sent, send and record nothing"}},
         {}},
        {"daemon", "", "keep syncing in the background until stopped",
         {{"--max-watches", "N", "use at most N inotify watches"}},
         {}},
        {"conversations", "[show ID [--markdown]]",
         "list your local conversations, newest first; `show ID` prints one (--markdown as Markdown)",
         {{"--source", "TOOLS", "only these tools, comma-separated (claude-code, cursor, openclaw, codex, gemini-cli)"},
          {"--time", "WHEN", "today, thisWeek, thisMonth or all"},
          {"--search", "TEXT", "only conversations whose text contains TEXT (any case)"},
          {"--project", "TEXT", "only conversations whose project folder contains TEXT"},
          {"--limit", "N", "show at most N (default: one screen on a terminal, all otherwise; 0 for all)"},
          {"--json", "", "print the list as JSON"},
          {"--markdown", "", "with show: print the conversation as Markdown"}},
         {"show"}},
        {"exclude", "add RULE... | remove RULE... | list",
         "keep files out of every upload: a path, a glob (~ allowed) or tool:ID (ids as in `scan --json`)",
         {},
         {"add", "remove", "list"}},
        {"config", "redact [on|off]", "whether secrets are replaced by [redacted:KIND] before upload (on by default)",
         {},
         {"redact"}},
        {"configure", "", "connect your AI tools and browsers to the memory service", {}, {}},
        {"unconfigure", "", "take out what configure put in: MCP entries, rules blocks, host manifests", {}, {}},
    };
    return commands;
}

std::string synopsis(const CommandUsage &command)
{
    std::string line = "quorral " + std::string(command.name);
    for (const auto &option : command.options) {
        if (option.flag == "--markdown")
            continue; // part of the `show` form
        line += " [" + std::string(option.flag) + (option.argument.empty() ? "" : " " + std::string(option.argument)) + "]";
    }
    if (!command.arguments.empty())
        line += " " + std::string(command.arguments);
    return line;
}

// Roff takes a backslash as an escape, a leading dot or quote as a request and "-" as a hyphen.
std::string roff(std::string_view text)
{
    std::string out;
    if (!text.empty() && (text.front() == '.' || text.front() == '\''))
        out += "\\&";
    for (const char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    return out;
}

} // namespace

std::span<const CommandUsage> commandUsages()
{
    return table();
}

const CommandUsage *findCommandUsage(std::string_view name)
{
    const auto &commands = table();
    const auto it = std::find_if(commands.begin(), commands.end(), [&](const auto &c) { return c.name == name; });
    return it == commands.end() ? nullptr : &*it;
}

std::string_view programVersion()
{
    return QUORRAL_VERSION;
}

std::string usageText()
{
    std::string text = "usage: quorral                  start the tray application (needs a graphical session)\n"
                       "       quorral --quick-input    open the running application's quick input\n"
                       "       quorral COMMAND [OPTIONS]\n\ncommands:\n";
    for (const auto &command : table()) {
        std::string name(command.name);
        text += "  " + name + std::string(name.size() < 15 ? 15 - name.size() : 1, ' ') + std::string(command.summary) + "\n";
    }
    text += "\n  quorral COMMAND --help   options of one command\n"
            "  quorral --version        the program's version\n";
    return text;
}

std::string commandUsageText(const CommandUsage &command)
{
    std::string text = "usage: " + synopsis(command) + "\n\n" + std::string(command.summary) + "\n";
    if (!command.options.empty()) {
        text += "\noptions:\n";
        for (const auto &option : command.options) {
            std::string flag(option.flag);
            if (!option.argument.empty())
                flag += " " + std::string(option.argument);
            text += "  " + flag + std::string(flag.size() < 18 ? 18 - flag.size() : 1, ' ') + std::string(option.help) + "\n";
        }
    }
    text += "  --help            this text\n";
    return text;
}

bool wantsHelp(const std::vector<std::string> &args)
{
    for (const auto &arg : args) {
        if (arg == "--")
            return false;
        if (arg == "--help" || arg == "-h")
            return true;
    }
    return false;
}

int usageError(std::string_view problem)
{
    std::cerr << "quorral: " << problem << "\n" << usageText();
    return usageExitStatus;
}

int usageError(std::string_view command, std::string_view problem)
{
    const auto *usage = findCommandUsage(command);
    if (usage == nullptr)
        return usageError(problem);
    std::cerr << "quorral " << command << ": " << problem << "\n" << commandUsageText(*usage);
    return usageExitStatus;
}

std::string manualPage()
{
    std::string page = ".TH QUORRAL 1 \"\" \"quorral " + std::string(programVersion()) + "\" \"User Commands\"\n";
    page += ".SH NAME\nquorral \\- sync the conversations of your AI tools to your memory service\n";
    page += ".SH SYNOPSIS\n";
    for (const auto &command : table())
        page += ".br\n.B " + roff(synopsis(command)) + "\n";
    page += ".br\n.B quorral \\-\\-version\n";
    page += ".SH COMMANDS\n";
    for (const auto &command : table()) {
        page += ".TP\n.B " + roff(synopsis(command)) + "\n" + roff(command.summary) + "\n";
        for (const auto &option : command.options) {
            page += ".RS\n.TP\n.B " + roff(option.flag);
            if (!option.argument.empty())
                page += " \\fI" + roff(option.argument) + "\\fR";
            page += "\n" + roff(option.help) + "\n.RE\n";
        }
    }
    page += ".SH \"EXIT STATUS\"\n0 on success, 1 when the command fails (it says why on standard error), "
            "2 when the command line is not understood.\n";
    page += ".SH ENVIRONMENT\n.TP\n.B QUORRAL_API_URL\nthe memory service's API base URL (used by the commands that talk to it)\n";
    page += ".SH FILES\n.TP\n.I ~/.quorral/credentials\nthe stored key\n";
    page += ".TP\n.I ~/.quorral/exclude\nthe exclude rules, one a line: a glob matched against the absolute path of a log "
            "or file (~ for the home folder; * and ? within a folder, ** across folders; a folder covers what is "
            "below it), or tool:ID; lines starting with # are comments\n";
    page += ".TP\n.I .quorral\\-ignore\nin a project's working folder: the logs of its sessions are never uploaded\n";
    return page;
}

std::string bashCompletion()
{
    std::string commands;
    for (const auto &command : table())
        commands += (commands.empty() ? "" : " ") + std::string(command.name);
    std::string script = "# bash completion for quorral\n"
                         "_quorral()\n{\n"
                         "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
                         "    if [[ $COMP_CWORD -eq 1 ]]; then\n"
                         "        COMPREPLY=($(compgen -W '" + commands + " --help --version' -- \"$cur\"))\n"
                         "        return\n"
                         "    fi\n"
                         "    case $prev in\n"
                         "        --show) COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n"
                         "        --source) COMPREPLY=($(compgen -W 'claude-code cursor openclaw' -- \"$cur\")); return ;;\n"
                         "        --time) COMPREPLY=($(compgen -W 'today thisWeek thisMonth all' -- \"$cur\")); return ;;\n"
                         "        --max-watches|--limit|--search|--project) return ;;\n"
                         "        add|remove) [[ ${COMP_WORDS[1]} == exclude ]] && COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n"
                         "        redact) COMPREPLY=($(compgen -W 'on off' -- \"$cur\")); return ;;\n"
                         "    esac\n"
                         "    local words\n"
                         "    case ${COMP_WORDS[1]} in\n";
    for (const auto &command : table()) {
        std::string words = "--help";
        for (const auto &option : command.options)
            words += " " + std::string(option.flag);
        for (const auto &sub : command.subcommands)
            words += " " + std::string(sub);
        script += "        " + std::string(command.name) + ") words='" + words + "' ;;\n";
    }
    script += "        *) return ;;\n"
              "    esac\n"
              "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
              "}\n"
              "complete -F _quorral quorral\n";
    return script;
}

} // namespace quorral::cli
