#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorral::server {

struct StoredMemory {
    std::string source;
    std::optional<std::string> path;
    std::optional<std::string> contextTag;
    std::string content;
    double updatedAt = 0;
};

std::string htmlEscape(const std::string &text);

// The service's own browser pages.
std::string devicePage(const std::string &userCode, const std::string &state);
std::string dashboardPage(const std::string &displayName, const std::vector<StoredMemory> &memories);
std::string settingsPage(bool incognitoGlobal, const std::vector<std::pair<std::string, bool>> &sources, bool saved);
std::string messagePage(const std::string &title, const std::string &text);

} // namespace quorral::server
