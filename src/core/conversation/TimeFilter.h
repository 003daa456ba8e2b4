#pragma once

#include "conversation/Model.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace quorral::conversation {

// The user's calendar as far as the time filter needs it: the offset from UTC at a given
// moment (time zones change offsets over the year) and the first day of the week.
struct UserCalendar {
    std::function<std::int64_t(Instant)> utcOffsetSeconds;
    int firstWeekday = 1; // 1 = Sunday … 7 = Saturday

    static UserCalendar fixedOffset(std::int64_t offsetSeconds, int firstWeekday = 1);
    // The process's local time zone (TZ and /etc/localtime).
    static UserCalendar systemLocal(int firstWeekday = 1);
};

enum class TimeFilter { today, thisWeek, thisMonth, all };
inline constexpr TimeFilter allTimeFilters[] = {TimeFilter::today, TimeFilter::thisWeek, TimeFilter::thisMonth,
                                                TimeFilter::all};
std::string_view rawValue(TimeFilter filter);
std::string_view displayName(TimeFilter filter);
std::optional<TimeFilter> timeFilterFromRaw(std::string_view raw);

// Same calendar day, week or month (and year) as `now` in the user's calendar; `all` always.
bool matches(TimeFilter filter, Instant date, Instant now, const UserCalendar &calendar);

} // namespace quorral::conversation
