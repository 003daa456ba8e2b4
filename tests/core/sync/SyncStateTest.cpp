#include "sync/SyncState.h"

#include "settings/MemoryDefaultsStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using quorral::settings::MemoryDefaultsStore;
using quorral::sync::SyncState;
using namespace std::chrono;

namespace {

struct LocalZone {
    explicit LocalZone(const char *zone)
    {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~LocalZone()
    {
        ::unsetenv("TZ");
        ::tzset();
    }
};

system_clock::time_point at(std::int64_t seconds)
{
    return system_clock::time_point(std::chrono::seconds(seconds));
}

} // namespace

TEST(SyncState, CountsPerLocalDayAndRemembersTheLastSync)
{
    LocalZone zone("UTC");
    MemoryDefaultsStore store;
    std::int64_t now = 1765324800 + 3600; // 2025-12-10 01:00 UTC
    SyncState state(store, [&] { return at(now); });
    EXPECT_FALSE(state.lastSyncAt());
    EXPECT_EQ(state.todayNewCount(), 0);

    state.recordSync(3);
    state.recordSync(4);
    EXPECT_EQ(state.todayNewCount(), 7);
    EXPECT_EQ(store.value("newCount_1765324800.0"), nlohmann::json(7));
    state.recordSync(0);
    EXPECT_EQ(state.todayNewCount(), 7);
    EXPECT_EQ(state.lastSyncAt(), at(now));

    const auto lastBefore = state.lastSyncAt();
    now += 86400; // past local midnight
    EXPECT_EQ(state.todayNewCount(), 0);
    EXPECT_EQ(state.lastSyncAt(), lastBefore);
}

TEST(SyncState, DayKeyFollowsTheTimeZone)
{
    LocalZone zone("IST-5:30"); // a POSIX zone string, UTC+05:30, no tz database needed
    // 2025-12-10 01:00 UTC is 06:30 local; the local day began at 2025-12-09 18:30 UTC.
    EXPECT_EQ(SyncState::dayKey(at(1765324800 + 3600)), "newCount_1765305000.0");
}

TEST(SyncState, NewMemoriesAreTheAcceptedShareOfTheMessages)
{
    using quorral::sync::estimateNewMemories;
    EXPECT_EQ(estimateNewMemories(2, 4, 10), 5);
    EXPECT_EQ(estimateNewMemories(1, 3, 10), 3); // 3.33 truncated
    EXPECT_EQ(estimateNewMemories(4, 4, 10), 10);
    EXPECT_EQ(estimateNewMemories(0, 4, 10), 0);
    EXPECT_EQ(estimateNewMemories(0, 0, 0), 0);
}
