#pragma once

#include "conversation/Model.h"

#include <optional>
#include <string>
#include <unordered_map>

// The summaries of the previous run, keyed by the log file's plain path, kept in one JSON
// file so that unchanged logs are not parsed again.
namespace quorral::cache {

struct LiteCacheEntry {
    conversation::Instant mtime; // the log's modification time when it was summarised
    conversation::ConversationLite lite;

    bool operator==(const LiteCacheEntry &) const = default;
};
using LiteCacheEntries = std::unordered_map<std::string, LiteCacheEntry>;

class LiteCache {
public:
    // 2: summaries say whether they are a subagent's (earlier ones could not).
    static constexpr int version = 2;

    // `cacheFile` is normally defaultCacheFile(); tests point it elsewhere.
    explicit LiteCache(std::string cacheFile) : m_cacheFile(std::move(cacheFile)) {}
    // "<caches directory>/Quorral/lite-cache-v1.json".
    static std::string defaultCacheFile(const std::string &home);

    const std::string &cacheFile() const { return m_cacheFile; }

    // Empty when the file is missing, unreadable, malformed in any entry, or of another version.
    LiteCacheEntries load() const;
    // Atomic; failures are ignored.
    void save(const LiteCacheEntries &entries) const;

    // The envelope as JSON text, and back (absent on any defect).
    static std::string encode(const LiteCacheEntries &entries);
    static std::optional<LiteCacheEntries> decode(std::string_view json);

private:
    std::string m_cacheFile;
};

// Shortest text that reads back to exactly `value`, always with a fractional part ("3.0").
std::string roundTripDecimal(double value);

} // namespace quorral::cache
