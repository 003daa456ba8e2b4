#include "../api/ServiceFixture.h"

#include "LogGenerator.h"
#include "TempHome.h"
#include "async/WaitFor.h"
#include "platform/ToolLocations.h"
#include "scan/PlatformScanners.h"
#include "sync/ManualSync.h"

#include <gmock/gmock.h>

#include <filesystem>

using namespace quorral;
using quorral::test::ServiceFixture;

class ManualSyncTest : public ServiceFixture {
protected:
    settings::MemoryDefaultsStore trackerStore;
    scan::ScanTracker tracker{trackerStore};
    sync::SyncState state{defaults};

    std::vector<std::shared_ptr<scan::PlatformScanner>> scanners()
    {
        return sync::manualSyncScanners(
            scan::makeAllScanners(platform::ToolLocations::forLinux(home.path() + "/user", std::nullopt), tracker));
    }
};

TEST_F(ManualSyncTest, UploadsWhatIsNewAndRecordsTheEstimate)
{
    EXPECT_THAT(sync::manualSyncToolIds(), testing::ElementsAre("claude-code", "cursor", "openclaw", "windsurf", "gemini",
                                                                "copilot", "trae", "codex"));
    loggen::HomeSpec spec;
    spec.claudeBytes = 2u << 20;
    spec.largeSessionShare = 0;
    loggen::LogGenerator(5).populateHome(home.path() + "/user", spec);
    auto client = makeClient();
    client->setApiKey(newAccountKey());

    std::vector<std::string> progress;
    const auto all = scanners();
    ASSERT_EQ(all.size(), 8u);
    auto first = async::waitFor(sync::syncLocalMemories(all, tracker, *client, state, [&](const std::string &tool) { progress.push_back(tool); }));
    EXPECT_EQ(first.tools, 8);
    EXPECT_EQ(progress.front(), "Claude Code");
    EXPECT_EQ(progress.size(), 8u);
    EXPECT_GT(first.conversations, 10);
    EXPECT_EQ(first.message, QStringLiteral("扫描了 8 个工具，发现 %1 条新对话").arg(first.conversations));
    EXPECT_EQ(state.todayNewCount(), first.conversations);
    EXPECT_TRUE(state.lastSyncAt());
    EXPECT_GT(async::waitFor(client->getStats()).totalMemories, 10);

    // Nothing changed: nothing new, nothing recorded.
    const auto second = async::waitFor(sync::syncLocalMemories(scanners(), tracker, *client, state));
    EXPECT_EQ(second.conversations, 0);
    EXPECT_EQ(second.message, "扫描了 8 个工具，暂无新对话");
    EXPECT_EQ(state.todayNewCount(), first.conversations);
}

TEST_F(ManualSyncTest, RejectedUploadsCountNothing)
{
    const auto log = home.write("user/.claude/projects/-p-app/s.jsonl",
               std::string(300, '\n') + "{\"type\":\"user\",\"message\":{\"content\":\"a question worth keeping\"}}\n");
    auto client = makeClient(); // no key: the service refuses every batch
    const auto result = async::waitFor(sync::syncLocalMemories(scanners(), tracker, *client, state));
    EXPECT_EQ(result.tools, 1);
    EXPECT_THAT(result.pathsSent, testing::ElementsAre(log));
    EXPECT_THAT(result.unsent, testing::ElementsAre(sync::UnsentFile{"claude-code", log, api::UploadStatus::failed}));
    EXPECT_EQ(result.conversations, 0);
    EXPECT_EQ(result.message, "扫描了 1 个工具，暂无新对话");
    EXPECT_FALSE(state.lastSyncAt());

    // The refused log was not taken for done: the next sync, signed in, sends it.
    client->setApiKey(newAccountKey());
    const auto retried = async::waitFor(sync::syncLocalMemories(scanners(), tracker, *client, state));
    EXPECT_EQ(retried.filesUploaded, 1u);
    EXPECT_TRUE(retried.unsent.empty());
    EXPECT_EQ(retried.conversations, 1);
    EXPECT_EQ(async::waitFor(client->getStats()).totalMemories, 1);
}

// The list `quorral status` shows: a sync replaces the entries of the files it sent; a
// refused file, not sent again until it changes, stays listed until then or until it is gone.
TEST(UnsentFiles, ASyncReplacesTheEntriesOfTheFilesItSent)
{
    quorral::test::TempHome home;
    using sync::UnsentFile;
    EXPECT_TRUE(sync::loadUnsentFiles(home.path()).empty());
    const UnsentFile big{"codex", home.write(".codex/sessions/big.jsonl", "{}"), api::UploadStatus::refused};
    const UnsentFile lost{"claude-code", home.write(".claude/projects/p/a b.jsonl", "{}"), api::UploadStatus::failed};
    ASSERT_FALSE(sync::saveUnsentFiles(home.path(), {big.path, lost.path}, {big, lost}));
    EXPECT_THAT(sync::loadUnsentFiles(home.path()), testing::ElementsAre(big, lost));

    // The failed file went through; the refused one was not sent again.
    ASSERT_FALSE(sync::saveUnsentFiles(home.path(), {lost.path}, {}));
    EXPECT_THAT(sync::loadUnsentFiles(home.path()), testing::ElementsAre(big));
    std::filesystem::remove(big.path);
    ASSERT_FALSE(sync::saveUnsentFiles(home.path(), {lost.path}, {}));
    EXPECT_TRUE(sync::loadUnsentFiles(home.path()).empty());
}
