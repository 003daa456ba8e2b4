#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorral::server {

// One upload of a file's new part (or one typed memory).
struct MemoryIncrement {
    std::optional<std::string> contextTag;
    std::string content; // the start of it, for the page
    bool cut = false;    // true when `content` is only the start
    double createdAt = 0;
};

// Everything stored for one file of one tool, oldest increment first. Typed memories of a
// tool (no file) form one history too.
struct FileHistory {
    std::string source;
    std::optional<std::string> path;
    std::vector<MemoryIncrement> increments;
};

std::string htmlEscape(const std::string &text);

// The service's own browser pages. `formToken` goes into every form that changes something.
std::string devicePage(const std::string &userCode, const std::string &state, const std::string &formToken);
std::string dashboardPage(const std::string &displayName, const std::vector<FileHistory> &files, const std::string &formToken);
std::string settingsPage(bool incognitoGlobal, const std::vector<std::pair<std::string, bool>> &sources, bool saved,
                         const std::string &formToken);
std::string messagePage(const std::string &title, const std::string &text);

} // namespace quorral::server
