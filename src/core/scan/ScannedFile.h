#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quorral::scan {

// One unit to upload: a whole instruction file, or the conversation text extracted from a log.
struct ScannedFile {
    std::string path;
    std::string content;
    std::optional<std::string> memoryTypeHint;
    std::optional<std::string> contextTag;
    // Messages extracted in this scan for a conversation log; 1 for every other record.
    std::int64_t messageCount = 1;
    // Secret values replaced in `content` before it left the scanner.
    std::int64_t redactedValues = 0;

    friend bool operator==(const ScannedFile &, const ScannedFile &) = default;
};

} // namespace quorral::scan
