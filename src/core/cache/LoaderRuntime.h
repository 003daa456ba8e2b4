#pragma once

#include "cache/LiteCache.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorral::cache {

struct LoadLitesResult {
    std::vector<conversation::ConversationLite> lites;
    LiteCacheEntries next; // the cache entries for the next run
    std::size_t parsed = 0; // files that were parsed again and gave a conversation
};

// Parses one log fully; called from several threads at once, never throws.
using ParseConversation = std::function<std::optional<conversation::Conversation>(const std::string &path)>;

// Summarises one log, as parsing it fully and summarising the conversation would; called
// from several threads at once, never throws.
using SummariseLog = std::function<std::optional<conversation::ConversationLite>(const std::string &path)>;

// The modification time of a file, absent when its attributes cannot be read.
std::optional<conversation::Instant> modificationInstant(const std::string &path);

// Summarises the logs of one tool: a cached summary is reused when the file's modification
// time equals the cached one exactly; every other file is parsed, in parallel on `workers`
// threads (0: one per processor core), and its full conversation dropped once summarised.
// The hits come first in the order of `paths`, then the new summaries in completion order.
LoadLitesResult loadLites(const std::vector<std::string> &paths, const LiteCacheEntries &priorCache,
                          const ParseConversation &parse, unsigned workers = 0);
// The same with the summary made by `summarise`.
LoadLitesResult loadLites(const std::vector<std::string> &paths, const LiteCacheEntries &priorCache,
                          const SummariseLog &summarise, unsigned workers = 0);

} // namespace quorral::cache
