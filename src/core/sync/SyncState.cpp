#include "sync/SyncState.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <ctime>

namespace quorral::sync {

SyncState::SyncState(settings::DefaultsStore &defaults, Clock clock) : m_defaults(defaults), m_clock(std::move(clock)) {}

std::string SyncState::dayKey(TimePoint now)
{
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    local.tm_hour = 0;
    local.tm_min = 0;
    local.tm_sec = 0;
    local.tm_isdst = -1;
    const double start = static_cast<double>(std::mktime(&local));
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, start);
    std::string key(text, result.ptr);
    if (key.find_first_of(".e") == std::string::npos)
        key += ".0";
    return "newCount_" + key;
}

std::optional<SyncState::TimePoint> SyncState::lastSyncAt() const
{
    const auto stored = m_defaults.value(lastSyncKey);
    if (!stored || !stored->is_number())
        return std::nullopt;
    const auto since = std::chrono::duration<double>(stored->get<double>());
    return TimePoint(std::chrono::duration_cast<TimePoint::duration>(since));
}

std::int64_t SyncState::todayNewCount() const
{
    const auto stored = m_defaults.value(dayKey(m_clock()));
    return stored && stored->is_number_integer() ? stored->get<std::int64_t>() : 0;
}

void SyncState::recordSync(std::int64_t newMemories)
{
    const TimePoint now = m_clock();
    m_defaults.setValue(lastSyncKey, std::chrono::duration<double>(now.time_since_epoch()).count());
    m_defaults.setValue(dayKey(now), todayNewCount() + newMemories);
}

std::int64_t estimateNewMemories(std::size_t accepted, std::size_t files, std::int64_t messages)
{
    if (files == 0 || accepted == 0)
        return 0;
    return static_cast<std::int64_t>(static_cast<double>(accepted) / static_cast<double>(files) * static_cast<double>(messages));
}

} // namespace quorral::sync
