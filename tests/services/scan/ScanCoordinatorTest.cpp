#include "scan/ScanCoordinator.h"

#include "settings/MemoryDefaultsStore.h"

#include <QCoreApplication>
#include <QThread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>

using namespace quorral::scan;
using quorral::settings::MemoryDefaultsStore;

namespace {

class FakeScanner final : public PlatformScanner {
public:
    FakeScanner(std::string id, ScanTier tier, bool installed, std::vector<ScannedFile> files,
                std::atomic<int> *concurrent = nullptr)
        : m_id(std::move(id)), m_name("Tool " + m_id), m_tier(tier), m_installed(installed), m_files(std::move(files)),
          m_concurrent(concurrent)
    {
    }
    const std::string &id() const override { return m_id; }
    const std::string &name() const override { return m_name; }
    ScanTier tier() const override { return m_tier; }
    bool detect() const override { return m_installed; }
    std::vector<ScannedFile> scan() const override
    {
        if (m_concurrent) {
            EXPECT_EQ(++*m_concurrent, 1) << "scanners must run one at a time";
            QThread::msleep(5);
            --*m_concurrent;
        }
        EXPECT_NE(QThread::currentThread(), QCoreApplication::instance()->thread()) << "file work off the main thread";
        return m_files;
    }

private:
    std::string m_id, m_name;
    ScanTier m_tier;
    bool m_installed;
    std::vector<ScannedFile> m_files;
    std::atomic<int> *m_concurrent;
};

ScannedFile record(const std::string &path, std::int64_t messages)
{
    return ScannedFile{path, "content of " + path, "knowledge", std::nullopt, messages};
}

int argc = 1;
char appName[] = "test";
char *argv[] = {appName, nullptr};

class ScanCoordinatorTest : public testing::Test {
protected:
    QCoreApplication app{argc, argv};
    MemoryDefaultsStore store;
    ScanTracker tracker{store};
    std::atomic<int> concurrent = 0;

    std::vector<std::unique_ptr<PlatformScanner>> scanners()
    {
        std::vector<std::unique_ptr<PlatformScanner>> list;
        list.push_back(std::make_unique<FakeScanner>("late", ScanTier::tier2, true,
                                                     std::vector{record("/l1", 1)}, &concurrent));
        list.push_back(std::make_unique<FakeScanner>("first", ScanTier::tier1, true,
                                                     std::vector{record("/f1", 10), record("/f2", 5)}, &concurrent));
        list.push_back(std::make_unique<FakeScanner>("absent", ScanTier::tier1, false, std::vector{record("/x", 99)}));
        list.push_back(std::make_unique<FakeScanner>("empty", ScanTier::tier1, true, std::vector<ScannedFile>{}));
        return list;
    }
};

} // namespace

TEST_F(ScanCoordinatorTest, RowsWaitInTierOrderBeforeAnyScan)
{
    ScanCoordinator coordinator(scanners(), tracker);
    std::vector<std::string> ids;
    for (const auto &row : coordinator.results()) {
        ids.push_back(row.id);
        EXPECT_EQ(row.status, ScanStatus::waiting());
        EXPECT_TRUE(row.files.empty());
    }
    EXPECT_THAT(ids, testing::ElementsAre("first", "absent", "empty", "late")); // stable within a tier
    EXPECT_FALSE(coordinator.isComplete());
    EXPECT_EQ(coordinator.totalFound(), 0);
}

TEST_F(ScanCoordinatorTest, ScanSetsEachRowAndSumsMessageCounts)
{
    store.setValue(ScanTracker::mtimesKey, {{"/old", 1.0}});
    ScanCoordinator coordinator(scanners(), tracker);
    std::vector<std::string> seen;
    QObject::connect(&coordinator, &ScanCoordinator::resultsChanged, [&] {
        for (const auto &row : coordinator.results())
            if (row.status == ScanStatus::scanning())
                seen.push_back(row.id);
    });
    QCoro::waitFor(coordinator.startScan());

    EXPECT_FALSE(store.value(ScanTracker::mtimesKey)) << "the tracker was reset first";
    EXPECT_THAT(seen, testing::ElementsAre("first", "absent", "empty", "late"));
    const auto &rows = coordinator.results();
    EXPECT_EQ(rows[0].status, ScanStatus::found(15));
    EXPECT_EQ(rows[1].status, ScanStatus::notInstalled());
    EXPECT_TRUE(rows[1].files.empty());
    EXPECT_EQ(rows[2].status, ScanStatus::found(0));
    EXPECT_EQ(rows[3].status, ScanStatus::found(1));
    EXPECT_EQ(coordinator.totalFound(), 16);
    EXPECT_TRUE(coordinator.isComplete());

    std::vector<std::string> paths;
    for (const auto &file : coordinator.allScannedFiles())
        paths.push_back(file.path);
    EXPECT_THAT(paths, testing::ElementsAre("/f1", "/f2", "/l1"));

    // A second run adds to the total and keeps the rows' records.
    QCoro::waitFor(coordinator.startScan());
    EXPECT_EQ(coordinator.totalFound(), 32);
    EXPECT_EQ(coordinator.allScannedFiles().size(), 3u);
}

TEST_F(ScanCoordinatorTest, NoScannersCompletesAtOnce)
{
    ScanCoordinator coordinator({}, tracker);
    QCoro::waitFor(coordinator.startScan());
    EXPECT_TRUE(coordinator.isComplete());
    EXPECT_TRUE(coordinator.results().empty());
}
