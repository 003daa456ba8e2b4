#include "scan/ScanTracker.h"

#include "TempHome.h"
#include "settings/MemoryDefaultsStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

using quorral::scan::ScanTracker;
using quorral::settings::MemoryDefaultsStore;
using quorral::test::setModificationTime;
using quorral::test::TempHome;

TEST(ScanTracker, ClaimsANewFileOnceUntilItsModificationTimeAdvances)
{
    TempHome home;
    MemoryDefaultsStore store;
    ScanTracker tracker(store);
    const auto file = home.write("a.md", "x");
    setModificationTime(file, 1000.5);
    EXPECT_TRUE(tracker.claimIfNeeded(file));
    EXPECT_FALSE(tracker.claimIfNeeded(file)) << "the claim is in flight";
    tracker.commit(file);
    EXPECT_FALSE(tracker.claimIfNeeded(file));
    setModificationTime(file, 1000.75);
    EXPECT_TRUE(tracker.claimIfNeeded(file));
    tracker.commit(file);
    // Restored from a backup: an older time is not claimed until it passes the recorded one.
    setModificationTime(file, 900);
    EXPECT_FALSE(tracker.claimIfNeeded(file));
    setModificationTime(file, 1000.75);
    EXPECT_FALSE(tracker.claimIfNeeded(file));
    setModificationTime(file, 1001);
    EXPECT_TRUE(tracker.claimIfNeeded(file));
}

// A claim whose upload failed is released: the file is claimed again, from the same
// offset, and nothing of it was recorded or stored.
TEST(ScanTracker, OnlyCommittedClaimsAreRecorded)
{
    TempHome home;
    MemoryDefaultsStore store;
    ScanTracker tracker(store);
    const auto sent = home.write("sent.jsonl", "x");
    const auto failed = home.write("failed.jsonl", "x");
    const auto windowed = home.write("windowed.jsonl", "x");
    for (const auto &file : {sent, failed, windowed}) {
        ASSERT_TRUE(tracker.claimIfNeeded(file));
        EXPECT_TRUE(tracker.isInFlight(file));
    }
    tracker.stageFileState(sent, 7, 700);
    tracker.stageFileState(failed, 5, 500);
    tracker.stageFileState(windowed, 3, 300, false);
    tracker.settle({sent, windowed}, {failed});

    EXPECT_FALSE(tracker.isInFlight(sent));
    EXPECT_FALSE(tracker.claimIfNeeded(sent));
    EXPECT_EQ(tracker.lastFileSize(sent), 700u);
    EXPECT_EQ(tracker.lastMessageCount(sent), 7);
    EXPECT_TRUE(tracker.claimIfNeeded(failed));
    EXPECT_EQ(tracker.lastFileSize(failed), 0u);
    EXPECT_EQ(tracker.lastMessageCount(failed), 0);
    // Read only up to a window: the offset moves on and the file is claimed again.
    EXPECT_EQ(tracker.lastFileSize(windowed), 300u);
    EXPECT_TRUE(tracker.claimIfNeeded(windowed));

    const auto stored = store.value(ScanTracker::sizesKey);
    ASSERT_TRUE(stored);
    EXPECT_EQ((*stored)[sent], 700);
    EXPECT_FALSE(stored->contains(failed));
}

TEST(ScanTracker, PruneMissingForgetsDeletedFiles)
{
    TempHome home;
    MemoryDefaultsStore store;
    ScanTracker tracker(store);
    const auto kept = home.write("kept.jsonl", "x");
    const auto gone = home.write("gone.jsonl", "x");
    for (const auto &file : {kept, gone}) {
        ASSERT_TRUE(tracker.claimIfNeeded(file));
        tracker.stageFileState(file, 1, 100);
        tracker.commit(file);
    }
    std::filesystem::remove(gone);
    EXPECT_EQ(tracker.pruneMissing(), 1u);
    EXPECT_EQ(tracker.lastFileSize(gone), 0u);
    EXPECT_EQ(tracker.lastFileSize(kept), 100u);
    EXPECT_FALSE(store.value(ScanTracker::mtimesKey)->contains(gone));
    EXPECT_TRUE(store.value(ScanTracker::mtimesKey)->contains(kept));
}

TEST(ScanTracker, MissingFileIsClaimedAndNothingIsRecorded)
{
    TempHome home;
    MemoryDefaultsStore store;
    ScanTracker tracker(store);
    EXPECT_TRUE(tracker.claimIfNeeded(home / "missing"));
    EXPECT_TRUE(tracker.claimIfNeeded(home / "missing"));
    tracker.persistCache();
    EXPECT_EQ(store.value(ScanTracker::mtimesKey), nlohmann::json::object());
}

TEST(ScanTracker, PersistedStateSurvivesARestart)
{
    TempHome home;
    MemoryDefaultsStore store;
    const auto file = home.write("log.jsonl", "x");
    {
        ScanTracker first(store);
        ASSERT_TRUE(first.claimIfNeeded(file));
        first.stageFileState(file, 12, 4096);
        first.settle({file}, {});
    }
    ScanTracker second(store);
    EXPECT_FALSE(second.claimIfNeeded(file));
    EXPECT_EQ(second.lastMessageCount(file), 12);
    EXPECT_EQ(second.lastFileSize(file), 4096u);
    EXPECT_EQ(second.lastFileSize(home / "other"), 0u);
    EXPECT_EQ((*store.value(ScanTracker::sizesKey))[file], 4096);
}

TEST(ScanTracker, ResetAllForgetsMemoryAndStore)
{
    TempHome home;
    MemoryDefaultsStore store;
    ScanTracker tracker(store);
    const auto file = home.write("log.jsonl", "x");
    tracker.claimIfNeeded(file);
    tracker.stageFileState(file, 3, 300);
    tracker.settle({file}, {});
    tracker.resetAll();
    EXPECT_EQ(tracker.lastFileSize(file), 0u);
    EXPECT_EQ(tracker.lastMessageCount(file), 0);
    EXPECT_TRUE(tracker.claimIfNeeded(file));
    for (const char *key : {ScanTracker::mtimesKey, ScanTracker::countsKey, ScanTracker::sizesKey})
        EXPECT_FALSE(store.value(key).has_value()) << key;
}

TEST(ScanTracker, StoredValuesOfTheWrongShapeStartAnEmptyMap)
{
    TempHome home;
    const auto file = home.write("log.jsonl", "x");
    MemoryDefaultsStore store;
    store.setValue(ScanTracker::mtimesKey, "not a dictionary");
    store.setValue(ScanTracker::countsKey, {{file, 2.5}}); // counts must be integers
    store.setValue(ScanTracker::sizesKey, {{file, 100}, {"/other", "big"}});
    ScanTracker tracker(store);
    EXPECT_TRUE(tracker.claimIfNeeded(file));
    EXPECT_EQ(tracker.lastMessageCount(file), 0);
    EXPECT_EQ(tracker.lastFileSize(file), 0u);
}

TEST(ScanTracker, OfConcurrentClaimersOnlyOneWins)
{
    TempHome home;
    MemoryDefaultsStore store;
    ScanTracker tracker(store);
    const auto file = home.write("a.md", "x");
    std::atomic<int> wins = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 200; ++k)
                tracker.lastFileSize(file);
            if (tracker.claimIfNeeded(file))
                ++wins;
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(wins.load(), 1);
}

TEST(ScanTracker, RestrictedTrackerClaimsOnlyItsPath)
{
    TempHome home;
    MemoryDefaultsStore store;
    ScanTracker tracker(store);
    const auto a = home.write("a.md", "x");
    const auto b = home.write("b.md", "x");
    tracker.restrictClaimsTo(a);
    EXPECT_FALSE(tracker.claimIfNeeded(b));
    EXPECT_TRUE(tracker.claimIfNeeded(a));
}
