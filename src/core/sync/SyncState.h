#pragma once

#include "settings/DefaultsStore.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace quorral::sync {

// Two small upload statistics kept in the defaults store: when the last sync that
// uploaded something finished, and how many new memories today brought.
class SyncState {
public:
    using TimePoint = std::chrono::system_clock::time_point;
    using Clock = std::function<TimePoint()>;

    static constexpr const char *lastSyncKey = "lastSyncAt";

    // The day follows the process's local time zone (TZ); tests inject the clock.
    explicit SyncState(settings::DefaultsStore &defaults, Clock clock = [] { return std::chrono::system_clock::now(); });

    // Stored as seconds since 1970; absent when missing or not a number.
    std::optional<TimePoint> lastSyncAt() const;
    std::int64_t todayNewCount() const;
    void recordSync(std::int64_t newMemories);

    // "newCount_" and the start of the local day containing `now`, in seconds since 1970,
    // as the shortest decimal that reads back the same with at least one fractional digit.
    static std::string dayKey(TimePoint now);

private:
    settings::DefaultsStore &m_defaults;
    Clock m_clock;
};

// New memories estimated for an upload: the accepted share of the files times their
// messages, truncated (4 files, 2 accepted, 10 messages: 5).
std::int64_t estimateNewMemories(std::size_t accepted, std::size_t files, std::int64_t messages);

} // namespace quorral::sync
