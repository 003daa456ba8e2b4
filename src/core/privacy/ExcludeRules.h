#pragma once

#include "io/WriteError.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorral::privacy {

// The user's rules for what is never read for upload, one per line of ~/.quorral/exclude:
// a glob matched against a file's absolute path ("~" stands for the home directory; "*"
// and "?" stay within one path component, "**" crosses them; a rule that matches a folder
// covers everything below it), or "tool:ID" for every file of one tool. Lines starting
// with "#" and blank lines are ignored.
class ExcludeRules {
public:
    ExcludeRules() = default;
    ExcludeRules(std::string_view text, const std::string &home);

    // The rules in ~/.quorral/exclude; none when the file is missing or unreadable.
    static ExcludeRules load(const std::string &home);

    bool excludesTool(std::string_view toolId) const;
    bool excludesPath(std::string_view path) const;
    bool empty() const { return m_globs.empty() && m_tools.empty(); }

private:
    std::vector<std::string> m_globs;
    std::vector<std::string> m_tools;
};

// "~/.quorral/exclude" under `home`.
std::string excludeFilePath(const std::string &home);

// Whether `glob` matches all of `path` ("*" and "?" within one component, "**" across).
bool globMatches(std::string_view glob, std::string_view path);

// The rule as written to the file for a command-line argument: "tool:ID" and globs that
// begin with "/" or "~" as given, any other path made absolute against `workingDirectory`.
std::string normalisedRule(std::string_view argument, const std::string &workingDirectory);

// The rules of the file in order, comments and blank lines left out.
std::vector<std::string> readExcludeRules(const std::string &home);

// Adds `rule` at the end of the file (creating ~/.quorral when needed). False when it was there.
struct RuleEdit {
    bool changed = false;
    std::optional<io::WriteError> error;
};
RuleEdit addExcludeRule(const std::string &home, const std::string &rule);
// Removes every line that is exactly `rule`; comments and other lines stay as they were.
RuleEdit removeExcludeRule(const std::string &home, const std::string &rule);

} // namespace quorral::privacy
