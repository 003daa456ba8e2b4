#pragma once

#include "api/UploadResult.h"
#include "io/WriteError.h"

#include <optional>
#include <string>
#include <vector>

namespace quorral::sync {

// A file a sync could not upload: `failed` is sent again by the next sync, `refused` never.
struct UnsentFile {
    std::string tool; // the scanner's id, e.g. "claude-code"
    std::string path;
    api::UploadStatus status = api::UploadStatus::failed;

    bool operator==(const UnsentFile &) const = default;
};

// ~/.quorral/unsent-files: one "status<TAB>tool<TAB>path" line per file.
std::string unsentFilesPath(const std::string &home);

// What the syncs so far left unsent; nothing when the file is missing or unreadable.
std::vector<UnsentFile> loadUnsentFiles(const std::string &home);

// Replaces the entries of the tools in `syncedTools` by `unsent` and keeps the others
// (a tool that was not synced this time keeps what it left before).
std::optional<io::WriteError> saveUnsentFiles(const std::string &home, const std::vector<std::string> &syncedTools,
                                              const std::vector<UnsentFile> &unsent);

} // namespace quorral::sync
