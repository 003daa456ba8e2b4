#include "privacy/ExcludeRules.h"

#include "io/AtomicWrite.h"
#include "io/ReadFile.h"

#include <algorithm>

namespace quorral::privacy {
namespace {

std::string_view trimmed(std::string_view line)
{
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = line.find_last_not_of(" \t\r");
    return line.substr(first, last - first + 1);
}

template <typename F>
void forEachLine(std::string_view text, F &&onLine)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        onLine(text.substr(pos, end - pos));
        pos = end + 1;
    }
}

bool isRule(std::string_view line)
{
    const auto rule = trimmed(line);
    return !rule.empty() && rule.front() != '#';
}

std::string expandHome(std::string_view rule, const std::string &home)
{
    if (rule == "~")
        return home;
    if (rule.starts_with("~/"))
        return home + std::string(rule.substr(1));
    return std::string(rule);
}

bool matchFrom(std::string_view glob, std::string_view path)
{
    std::size_t g = 0, p = 0;
    while (g < glob.size()) {
        const char c = glob[g];
        if (c == '*') {
            const bool crossesFolders = g + 1 < glob.size() && glob[g + 1] == '*';
            std::size_t rest = g + (crossesFolders ? 2 : 1);
            // "**/" also matches no folder at all.
            if (crossesFolders && rest < glob.size() && glob[rest] == '/' && matchFrom(glob.substr(rest + 1), path.substr(p)))
                return true;
            for (std::size_t end = p;; ++end) {
                if (matchFrom(glob.substr(rest), path.substr(end)))
                    return true;
                if (end >= path.size() || (!crossesFolders && path[end] == '/'))
                    return false;
            }
        }
        if (p >= path.size())
            return false;
        if (c == '?') {
            if (path[p] == '/')
                return false;
        } else if (c != path[p]) {
            return false;
        }
        ++g;
        ++p;
    }
    return p == path.size();
}

std::string readRulesFile(const std::string &home)
{
    return io::readWholeFile(excludeFilePath(home)).value_or(std::string());
}

} // namespace

ExcludeRules::ExcludeRules(std::string_view text, const std::string &home)
{
    forEachLine(text, [&](std::string_view line) {
        if (!isRule(line))
            return;
        const auto rule = trimmed(line);
        if (rule.starts_with("tool:")) {
            m_tools.emplace_back(trimmed(rule.substr(5)));
            return;
        }
        auto glob = expandHome(rule, home);
        while (glob.size() > 1 && glob.back() == '/')
            glob.pop_back();
        m_globs.push_back(std::move(glob));
    });
}

ExcludeRules ExcludeRules::load(const std::string &home)
{
    return ExcludeRules(readRulesFile(home), home);
}

bool ExcludeRules::excludesTool(std::string_view toolId) const
{
    return std::find(m_tools.begin(), m_tools.end(), toolId) != m_tools.end();
}

bool ExcludeRules::excludesPath(std::string_view path) const
{
    for (const auto &glob : m_globs) {
        if (globMatches(glob, path))
            return true;
        // A rule that names a folder covers what is below it.
        for (auto slash = path.find('/', 1); slash != std::string_view::npos; slash = path.find('/', slash + 1)) {
            if (globMatches(glob, path.substr(0, slash)))
                return true;
        }
    }
    return false;
}

std::string excludeFilePath(const std::string &home)
{
    return home + "/.quorral/exclude";
}

bool globMatches(std::string_view glob, std::string_view path)
{
    return matchFrom(glob, path);
}

std::string normalisedRule(std::string_view argument, const std::string &workingDirectory)
{
    const auto rule = trimmed(argument);
    if (rule.starts_with("tool:") || rule.starts_with("/") || rule.starts_with("~"))
        return std::string(rule);
    std::string absolute = workingDirectory;
    if (absolute.empty() || absolute.back() != '/')
        absolute += '/';
    std::string_view rest = rule;
    while (rest.starts_with("./"))
        rest.remove_prefix(2);
    if (rest == ".")
        rest = {};
    absolute += rest;
    while (absolute.size() > 1 && absolute.back() == '/')
        absolute.pop_back();
    return absolute;
}

std::vector<std::string> readExcludeRules(const std::string &home)
{
    std::vector<std::string> rules;
    forEachLine(readRulesFile(home), [&](std::string_view line) {
        if (isRule(line))
            rules.emplace_back(trimmed(line));
    });
    return rules;
}

RuleEdit addExcludeRule(const std::string &home, const std::string &rule)
{
    const auto rules = readExcludeRules(home);
    if (std::find(rules.begin(), rules.end(), rule) != rules.end())
        return {};
    std::string text = readRulesFile(home);
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    text += rule + "\n";
    const auto path = excludeFilePath(home);
    if (auto error = io::createDirectories(io::parentDirectory(path)))
        return {false, std::move(error)};
    if (auto error = io::writeFileAtomically(path, text))
        return {false, std::move(error)};
    return {true, std::nullopt};
}

RuleEdit removeExcludeRule(const std::string &home, const std::string &rule)
{
    std::string kept;
    bool removed = false;
    const std::string text = readRulesFile(home);
    forEachLine(text, [&](std::string_view line) {
        if (isRule(line) && trimmed(line) == rule) {
            removed = true;
            return;
        }
        kept.append(line);
        kept += '\n';
    });
    if (!removed)
        return {};
    if (auto error = io::writeFileAtomically(excludeFilePath(home), kept))
        return {false, std::move(error)};
    return {true, std::nullopt};
}

} // namespace quorral::privacy
