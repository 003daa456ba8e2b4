#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace quorral::sync {

// The user's incognito settings mirrored into "~/.quorral/settings-cache.json" for the
// browser host to read. Written through a temporary sibling and a rename, so a reader
// sees the previous complete file or the new one; write errors are ignored.
void writeSettingsCache(const std::string &home, bool incognitoGlobal, const std::vector<std::string> &incognitoSources,
                        std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

std::string settingsCachePath(const std::string &home);

// "2026-03-01T08:15:30Z": UTC, whole seconds.
std::string internetDateTime(std::chrono::system_clock::time_point when);

} // namespace quorral::sync
