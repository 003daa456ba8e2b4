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
    // The newest messages that fit; empty when none was found or none fits.
    std::string content;
    // Every message extracted from what was read, also those that did not fit in content.
    std::int64_t messageCount = 0;
    // Where the next incremental read starts: past the last complete line that was read.
    // A last line still being written (no line feed, not a whole object) is read again.
    std::uint64_t nextOffset = 0;
    // False when the 4 MiB window stopped before the end of the log: the rest is there to
    // be read from `nextOffset` although the file may not change again.
    bool reachedEnd = true;
};

// How a tool writes the messages of its JSON Lines log.
enum class LogFormat {
    // One message per record: the role in "type" ("user" or "assistant"), or in "role" when
    // the record has no "type" (Cursor's agent transcripts), the content in "message".
    chat,
    // Codex rollouts: "response_item" records wrapping a "message" payload with its role,
    // or the same items bare in the older form; the user/agent message events stand in
    // for a log that holds no such item.
    codex,
    // Gemini CLI chats: "user" and "gemini" records; a message written again under the
    // same id replaces its first copy.
    geminiChat,
};

// The user/assistant transcript of a JSON Lines conversation log, read whole, from
// `readFromOffset` (at most 4 MiB past it) when the log grew since, or only its last
// 2 MiB when it is larger than 10 MiB. Only lines that are whole, well-formed JSON
// objects count. Holds the newest messages that fit in `maxChars` characters. Absent
// when the file cannot be used: unreadable, not a regular file, too small, or not UTF-8.
std::optional<ExtractedConversation> extractConversationFromJSONL(const std::string &path,
                                                                  std::uint64_t readFromOffset,
                                                                  std::int64_t maxChars,
                                                                  LogFormat format = LogFormat::chat);

// The transcript of a chat kept as one JSON document ("messages" of "user" and "gemini"
// records), read whole; the newest messages that fit in `maxChars`. Absent when the file
// cannot be used; present with empty content when it holds no message.
std::optional<ExtractedConversation> extractGeminiChatDocument(const std::string &path, std::int64_t maxChars);

// The transcript of a Copilot chat-session log, oldest messages first within 150,000
// characters; absent when nothing usable was found. The log is a snapshot ("kind" 0)
// followed by patches to it ("kind" 1 sets the value at the key path "k", "kind" 2
// appends to the array there, "kind" 3 deletes it), applied in order before reading.
std::optional<std::string> extractCopilotJSONL(const std::string &path);

} // namespace quorral::scan
