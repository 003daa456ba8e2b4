#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quorral::scan {

inline constexpr std::uint64_t minimumLogSize = 201;
inline constexpr std::uint64_t incrementalReadLimit = 4 * 1024 * 1024;
inline constexpr std::uint64_t largeLogThreshold = 10 * 1024 * 1024;
inline constexpr std::uint64_t tailLength = 2 * 1024 * 1024;
inline constexpr std::size_t messageCut = 2000;
inline constexpr std::size_t copilotMessageCut = 5000;
inline constexpr std::size_t copilotTranscriptBound = 150000;

struct ExtractedConversation {
    std::string content;
    // Every message extracted from what was read, also those that did not fit in content.
    std::int64_t messageCount = 0;
    // The file's size before reading: the offset of the next incremental read.
    std::uint64_t fileSize = 0;
};

// The user/assistant transcript of a JSON Lines conversation log, read whole, from
// `readFromOffset` (at most 4 MiB past it) when the log grew since, or only its last
// 2 MiB when it is larger than 10 MiB. Holds the newest messages that fit in
// `maxChars` characters. Absent when the file cannot be used or yields no message.
std::optional<ExtractedConversation> extractConversationFromJSONL(const std::string &path,
                                                                  std::uint64_t readFromOffset,
                                                                  std::int64_t maxChars);

// The transcript of a Copilot chat-session log, oldest messages first within 150,000
// characters; absent when nothing usable was found.
std::optional<std::string> extractCopilotJSONL(const std::string &path);

} // namespace quorral::scan
