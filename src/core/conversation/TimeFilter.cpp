#include "conversation/TimeFilter.h"

#include <cmath>
#include <ctime>

namespace quorral::conversation {
namespace {

// Days since 1970-01-01 of the local calendar day holding `at`.
std::int64_t localDay(Instant at, const UserCalendar &calendar)
{
    const double local = at.unixSeconds() + static_cast<double>(calendar.utcOffsetSeconds(at));
    return static_cast<std::int64_t>(std::floor(local / 86400.0));
}

// The civil year and month of a day number (Howard Hinnant's algorithm).
std::pair<std::int64_t, unsigned> yearAndMonth(std::int64_t days)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month};
}

std::int64_t weekStart(std::int64_t day, int firstWeekday)
{
    const std::int64_t weekday = ((day % 7) + 7 + 4) % 7; // 0 = Sunday; 1970-01-01 was a Thursday
    const std::int64_t since = ((weekday - (firstWeekday - 1)) % 7 + 7) % 7;
    return day - since;
}

} // namespace

UserCalendar UserCalendar::fixedOffset(std::int64_t offsetSeconds, int firstWeekday)
{
    return {[offsetSeconds](Instant) { return offsetSeconds; }, firstWeekday};
}

UserCalendar UserCalendar::systemLocal(int firstWeekday)
{
    return {[](Instant at) -> std::int64_t {
                const auto t = static_cast<std::time_t>(std::floor(at.unixSeconds()));
                std::tm tm{};
                if (!localtime_r(&t, &tm))
                    return 0;
                return tm.tm_gmtoff;
            },
            firstWeekday};
}

std::string_view rawValue(TimeFilter filter)
{
    switch (filter) {
    case TimeFilter::today: return "today";
    case TimeFilter::thisWeek: return "thisWeek";
    case TimeFilter::thisMonth: return "thisMonth";
    case TimeFilter::all: return "all";
    }
    return {};
}

std::string_view displayName(TimeFilter filter)
{
    switch (filter) {
    case TimeFilter::today: return "今天";
    case TimeFilter::thisWeek: return "本周";
    case TimeFilter::thisMonth: return "本月";
    case TimeFilter::all: return "全部";
    }
    return {};
}

std::optional<TimeFilter> timeFilterFromRaw(std::string_view raw)
{
    for (auto filter : allTimeFilters)
        if (rawValue(filter) == raw)
            return filter;
    return std::nullopt;
}

bool matches(TimeFilter filter, Instant date, Instant now, const UserCalendar &calendar)
{
    if (filter == TimeFilter::all)
        return true;
    const auto day = localDay(date, calendar), today = localDay(now, calendar);
    switch (filter) {
    case TimeFilter::today: return day == today;
    case TimeFilter::thisWeek: return weekStart(day, calendar.firstWeekday) == weekStart(today, calendar.firstWeekday);
    case TimeFilter::thisMonth: return yearAndMonth(day) == yearAndMonth(today);
    case TimeFilter::all: return true;
    }
    return true;
}

} // namespace quorral::conversation
