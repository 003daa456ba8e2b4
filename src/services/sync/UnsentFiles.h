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

// After a sync that sent the files at `sentPaths`: their entries are replaced by `unsent`;
// entries of other files stay (a refused file is not sent again until it changes) unless
// the file is gone.
std::optional<io::WriteError> saveUnsentFiles(const std::string &home, const std::vector<std::string> &sentPaths,
                                              const std::vector<UnsentFile> &unsent);

} // namespace quorral::sync
