#pragma once

#include "scan/ScannedFile.h"

#include <optional>
#include <string>

namespace quorral::api {

// One file as the upload endpoint sends it; the hint and message count stay local.
struct ScannedFilePayload {
    std::string path;
    std::string content;
    std::optional<std::string> contextTag;

    static ScannedFilePayload from(const scan::ScannedFile &file) { return {file.path, file.content, file.contextTag}; }
};

} // namespace quorral::api
