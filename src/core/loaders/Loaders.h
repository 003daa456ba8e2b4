#pragma once

#include "cache/LoaderRuntime.h"
#include "conversation/Model.h"
#include "loaders/LogFiles.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One loader per tool whose conversations the browser shows. Each reads one log fully, or
// summarises all logs of its tool through the shared runtime and cache.

namespace quorral::loaders::ClaudeCodeLoader {
std::string defaultProjectsDir(const std::string &home); // ~/.claude/projects
std::vector<std::string> enumerateJsonl(const std::string &directory);
std::optional<conversation::Message> parseLine(std::string_view line);
// Absent with `error` set when the file cannot be read as UTF-8 text; absent without it
// when the log holds no message.
std::optional<conversation::Conversation> loadConversation(const std::string &path, LoadError *error = nullptr);
std::vector<conversation::Conversation> loadAll(const std::string &directory);
cache::LoadLitesResult loadAllLite(const std::string &directory, const cache::LiteCacheEntries &prior);
} // namespace quorral::loaders::ClaudeCodeLoader

namespace quorral::loaders::CursorLoader {
std::string defaultProjectsDir(const std::string &home); // ~/.cursor/projects
std::vector<std::string> enumerateJsonl(const std::string &directory);
std::optional<conversation::Message> parseLine(std::string_view line, conversation::Instant fileTimestamp,
                                               std::size_t lineIndex);
// "<modification time as seconds since 1970>-<line index>", e.g. "1733820000.5-3".
std::string messageId(conversation::Instant fileTimestamp, std::size_t lineIndex);
// The project a transcript belongs to: the folder holding "agent-transcripts", else the
// folder three levels above the file.
std::string projectName(const std::string &path);
std::optional<conversation::Conversation> loadConversation(const std::string &path, LoadError *error = nullptr);
std::vector<conversation::Conversation> loadAll(const std::string &directory);
cache::LoadLitesResult loadAllLite(const std::string &directory, const cache::LiteCacheEntries &prior);
} // namespace quorral::loaders::CursorLoader

namespace quorral::loaders::OpenClawLoader {
std::string defaultRootDir(const std::string &home); // ~/.openclaw/agents
std::vector<std::string> enumerateSessionJsonl(const std::string &root);
std::optional<conversation::Message> parseLine(std::string_view line);
std::optional<conversation::Conversation> loadConversation(const std::string &path, LoadError *error = nullptr);
std::vector<conversation::Conversation> loadAll(const std::string &root);
cache::LoadLitesResult loadAllLite(const std::string &root, const cache::LiteCacheEntries &prior);
} // namespace quorral::loaders::OpenClawLoader

namespace quorral::loaders::CodexLoader {
std::string defaultSessionsDir(const std::string &home); // ~/.codex/sessions
// A rollout's user and assistant messages with their tool calls and results; the
// context Codex injects as user messages is left out.
std::optional<conversation::Conversation> loadConversation(const std::string &path, LoadError *error = nullptr);
cache::LoadLitesResult loadAllLite(const std::string &directory, const cache::LiteCacheEntries &prior);
} // namespace quorral::loaders::CodexLoader

namespace quorral::loaders::GeminiCliLoader {
std::string defaultTmpDir(const std::string &home); // ~/.gemini/tmp
// A chat kept as one JSON document or as JSON Lines; a message written again under the
// same id replaces its first copy.
std::optional<conversation::Conversation> loadConversation(const std::string &path, LoadError *error = nullptr);
cache::LoadLitesResult loadAllLite(const std::string &directory, const cache::LiteCacheEntries &prior);
} // namespace quorral::loaders::GeminiCliLoader

namespace quorral::loaders {
// The full load of one summary's log with the loader of its source; absent for sources
// without a loader and for logs that cannot be read.
std::optional<conversation::Conversation> loadConversationFor(conversation::ConversationSource source,
                                                              const std::string &path);
} // namespace quorral::loaders
