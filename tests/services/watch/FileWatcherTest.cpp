#include "../api/ServiceFixture.h"
#include "ServicePages.h"

#include "async/WaitFor.h"
#include "sync/SettingsCache.h"
#include "watch/FileWatcher.h"

#include <QSignalSpy>
#include <QTest>

#include <httplib.h>

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <set>

using namespace quorral;
using namespace quorral::watch;
using namespace std::chrono_literals;
using quorral::test::ServiceFixture;

namespace {

// Events on demand: the tests decide when a directory "changed".
class FakeDirectoryWatcher final : public DirectoryWatcher {
public:
    bool watch(const QString &, int) override
    {
        ++m_count;
        return true;
    }
    void stopAll() override { m_count = 0; }
    int watchCount() const override { return m_count; }
    void fire(int target) { Q_EMIT changed(target); }

private:
    int m_count = 0;
};

// The inotify descriptors this process holds (network sockets and the thread pool's
// descriptors come and go with the client, not with the watcher).
int inotifyDescriptors()
{
    int count = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec).string() == "anon_inode:inotify")
            ++count;
    }
    return count;
}

std::string userLine(const std::string &text)
{
    return nlohmann::json{{"type", "user"}, {"message", {{"content", text}}}}.dump() + "\n";
}

} // namespace

class FileWatcherTest : public ServiceFixture {
protected:
    std::string userHome = home.path() + "/user";
    settings::MemoryDefaultsStore trackerStore;
    scan::ScanTracker tracker{trackerStore};
    sync::SyncState state{defaults};
    std::unique_ptr<api::APIClient> client = makeClient();
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    FakeDirectoryWatcher *fake = nullptr;

    void SetUp() override
    {
        std::filesystem::create_directories(userHome);
        client->setApiKey(newAccountKey());
    }

    std::unique_ptr<FileWatcher> makeWatcher(std::unique_ptr<DirectoryWatcher> directories, FileWatcherIntervals intervals)
    {
        return std::make_unique<FileWatcher>(platform::ToolLocations::forLinux(userHome, std::nullopt), *client, tracker, state,
                                             std::move(directories), intervals, [this] { return now; });
    }
    std::unique_ptr<FileWatcher> withFake(FileWatcherIntervals intervals = {100ms, 3600s, 300s})
    {
        auto directories = std::make_unique<FakeDirectoryWatcher>();
        fake = directories.get();
        return makeWatcher(std::move(directories), intervals);
    }
    std::string writeSession(const std::string &project, int messages)
    {
        std::string log;
        for (int i = 0; i < messages; ++i)
            log += userLine("question number " + std::to_string(i) + " for the project");
        return home.write("user/.claude/projects/" + project + "/session.jsonl", log);
    }
    // Switches incognito on the service the way its settings page does.
    void setIncognito(const std::string &form)
    {
        httplib::Client http("127.0.0.1", server.port());
        const std::string link = async::waitFor(client->getMagicLoginURL()).toString().toStdString();
        const auto signedIn = http.Get(link.substr(link.find("/magic")));
        const std::string cookie = signedIn->get_header_value("Set-Cookie").substr(0, signedIn->get_header_value("Set-Cookie").find(';'));
        test::submitForm(server.port(), "/settings", "/settings", cookie, form);
    }
    static std::vector<SyncReport> reports(const QSignalSpy &spy)
    {
        std::vector<SyncReport> out;
        for (const auto &args : spy)
            out.push_back(args.first().value<SyncReport>());
        return out;
    }
};

TEST_F(FileWatcherTest, WatchesEveryTargetThoseMissingToo)
{
    home.mkdir("user/.claude/projects");
    home.mkdir("user/.gemini");
    auto watcher = withFake();
    ASSERT_EQ(watcher->targets().size(), 9u);
    EXPECT_EQ(watcher->targets()[0].path, userHome + "/.claude/projects");
    EXPECT_EQ(watcher->targets()[2].path, userHome + "/.config/Cursor/User/globalStorage/anysphere.cursor-agent/agent-transcripts");
    EXPECT_EQ(watcher->targets()[3].path, userHome + "/.cursor/projects");
    EXPECT_EQ(watcher->targets()[7].scanner, "copilot");
    EXPECT_EQ(watcher->targets()[8].path, userHome + "/.codex/sessions");
    EXPECT_EQ(watcher->targets()[8].scanner, "codex");
    watcher->startWatching();
    // A missing folder is handed over too: the directory watcher waits for it to appear.
    for (int i = 0; i < 9; ++i)
        EXPECT_TRUE(watcher->isWatched(i)) << i;
    EXPECT_EQ(fake->watchCount(), 9);
}

TEST_F(FileWatcherTest, ABurstOfEventsLeadsToOneSyncAfterTheLastOne)
{
    writeSession("-p-app", 10);
    auto watcher = withFake();
    watcher->startWatching();
    QSignalSpy synced(watcher.get(), &FileWatcher::syncFinished);
    QElapsedTimer clock;
    clock.start();
    qint64 lastEvent = 0;
    for (int i = 0; i < 10; ++i) {
        if (i > 0)
            QTest::qWait(20);
        fake->fire(0);
        lastEvent = clock.elapsed();
    }
    ASSERT_TRUE(synced.wait(5000));
    // A precise timer never fires early; the sync then still has to scan and upload.
    EXPECT_GE(clock.elapsed() - lastEvent, 99) << "one debounce after the last event";
    QTest::qWait(300);
    ASSERT_EQ(synced.count(), 1);
    const auto report = reports(synced).front();
    EXPECT_EQ(report.outcome, SyncReport::Outcome::uploaded);
    EXPECT_EQ(report.accepted, 1u);
    EXPECT_EQ(report.newMemories, 10);
    EXPECT_EQ(state.todayNewCount(), 10);

    // The two Cursor folders share one pending sync.
    fake->fire(1);
    fake->fire(2);
    ASSERT_TRUE(synced.wait(5000));
    QTest::qWait(300);
    ASSERT_EQ(synced.count(), 2);
    EXPECT_EQ(reports(synced).back().scanner, "cursor");
}

TEST_F(FileWatcherTest, ExcludeRulesChangedWhileRunningCountAtTheNextSync)
{
    const std::string open = writeSession("-p-open", 3);
    const std::string clientLog = writeSession("-p-client", 3);
    home.write("user/.quorral/exclude", "# client work stays here\n~/.claude/projects/-p-client\n");
    auto watcher = withFake();
    watcher->startWatching();
    QSignalSpy synced(watcher.get(), &FileWatcher::syncFinished);
    fake->fire(0);
    ASSERT_TRUE(synced.wait(5000));
    EXPECT_EQ(reports(synced).back().sent, std::vector<std::string>{open});

    // The rules change under the running watcher: the client project is let in, the other kept out.
    home.write("user/.quorral/exclude", "~/.claude/projects/-p-open/\n");
    std::ofstream(open, std::ios::app) << userLine("one more question for the open project");
    fake->fire(0);
    ASSERT_TRUE(synced.wait(5000));
    EXPECT_EQ(reports(synced).back().sent, std::vector<std::string>{clientLog});

    // A project that opts out with its own file, found through the "cwd" of its sessions.
    const std::string project = home.mkdir("user/code/private");
    home.write("user/code/private/.quorral-ignore", "");
    home.write("user/.quorral/exclude", "");
    const std::string privateLog = home.write(
        "user/.claude/projects/-code-private/session.jsonl",
        nlohmann::json{{"type", "user"}, {"cwd", project}, {"message", {{"content", "a question about private code"}}}}
                .dump()
            + "\n" + userLine("and a second question about private code"));
    fake->fire(0);
    ASSERT_TRUE(synced.wait(5000));
    EXPECT_EQ(reports(synced).back().sent, std::vector<std::string>{open});
    EXPECT_FALSE(tracker.isInFlight(privateLog));
    EXPECT_TRUE(tracker.claimIfNeeded(privateLog)) << "nothing was recorded for it";
    watcher->stopAll();
}

TEST_F(FileWatcherTest, IncognitoGlobalAndPerSourceAndTheFiveMinuteCache)
{
    writeSession("-p-app", 4);
    home.write("user/.config/Cursor/User/globalStorage/anysphere.cursor-agent/agent-transcripts/t.jsonl",
               userLine("a cursor question to upload") + std::string(200, '\n'));
    setIncognito("incognito_source=cursor");
    auto watcher = withFake();
    watcher->startWatching();
    QSignalSpy synced(watcher.get(), &FileWatcher::syncFinished);
    fake->fire(2);
    ASSERT_TRUE(synced.wait(5000));
    EXPECT_EQ(reports(synced).back().outcome, SyncReport::Outcome::incognitoSource);
    fake->fire(0);
    ASSERT_TRUE(synced.wait(5000));
    EXPECT_EQ(reports(synced).back().outcome, SyncReport::Outcome::uploaded) << "Claude Code still syncs";
    auto cache = nlohmann::json::parse(std::ifstream(sync::settingsCachePath(userHome)));
    EXPECT_EQ(cache["incognito_sources"], nlohmann::json::array({"cursor"}));
    EXPECT_EQ(cache["incognito_global"], false);
    EXPECT_EQ(cache.size(), 3u);
    EXPECT_THAT(cache["updated_at"].get<std::string>(), testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z"));

    // Switched on everywhere: within five minutes the cached settings still stand.
    setIncognito("incognito_global=1");
    writeSession("-p-other", 3);
    now += 299s;
    fake->fire(0);
    ASSERT_TRUE(synced.wait(5000));
    EXPECT_EQ(reports(synced).back().outcome, SyncReport::Outcome::uploaded);
    now += 2s;
    writeSession("-p-third", 3);
    fake->fire(0);
    ASSERT_TRUE(synced.wait(5000));
    EXPECT_EQ(reports(synced).back().outcome, SyncReport::Outcome::incognitoGlobal);
    cache = nlohmann::json::parse(std::ifstream(sync::settingsCachePath(userHome)));
    EXPECT_EQ(cache["incognito_global"], true);
}

TEST_F(FileWatcherTest, UnreachableServiceKeepsTheLastSettingsAndRecordsNothing)
{
    writeSession("-p-app", 4);
    auto watcher = withFake();
    server.stop();
    watcher->startWatching();
    QSignalSpy synced(watcher.get(), &FileWatcher::syncFinished);
    fake->fire(0);
    ASSERT_TRUE(synced.wait(5000));
    const auto report = reports(synced).back();
    EXPECT_EQ(report.outcome, SyncReport::Outcome::uploadFailed);
    EXPECT_EQ(report.files, 1u);
    EXPECT_FALSE(state.lastSyncAt());
    EXPECT_FALSE(watcher->incognitoGlobal());
    EXPECT_FALSE(std::filesystem::exists(sync::settingsCachePath(userHome)));
}

TEST_F(FileWatcherTest, SignedOutSyncsScanNothing)
{
    writeSession("-p-app", 4);
    client->clearApiKey();
    auto watcher = withFake();
    watcher->startWatching();
    QSignalSpy synced(watcher.get(), &FileWatcher::syncFinished);
    fake->fire(0);
    ASSERT_TRUE(synced.wait(5000));
    EXPECT_EQ(reports(synced).back().outcome, SyncReport::Outcome::notSignedIn);
    EXPECT_TRUE(tracker.claimIfNeeded(userHome + "/.claude/projects/-p-app/session.jsonl")) << "the log is still unclaimed";
}

TEST_F(FileWatcherTest, PeriodicCheckSyncsEveryTargetAndStopAllEndsIt)
{
    writeSession("-p-app", 4);
    ASSERT_EQ(inotifyDescriptors(), 0);
    auto watcher = makeWatcher(makeDirectoryWatcher(), {100ms, 400ms, 300s});
    home.mkdir("user/.gemini");
    watcher->startWatching();
    EXPECT_EQ(inotifyDescriptors(), 1);
    QSignalSpy synced(watcher.get(), &FileWatcher::syncFinished);
    QElapsedTimer waited;
    waited.start();
    while (synced.count() < 7 && waited.elapsed() < 10000)
        synced.wait(100);
    ASSERT_GE(synced.count(), 7);
    std::multiset<std::string> scanners;
    for (int i = 0; i < 7; ++i)
        scanners.insert(synced.at(i).first().value<SyncReport>().scanner);
    EXPECT_EQ(scanners,
              (std::multiset<std::string>{"claude-code", "cursor", "windsurf", "openclaw", "gemini", "copilot", "codex"}))
        << "one sync per tool, the missing ones included";
    watcher->stopAll();
    EXPECT_EQ(watcher->directories().watchCount(), 0);
    EXPECT_EQ(inotifyDescriptors(), 0);
    QTest::qWait(300); // syncs already running finish
    synced.clear();
    QTest::qWait(900);
    EXPECT_EQ(synced.count(), 0) << "no periodic check after stopAll";
}

TEST_F(FileWatcherTest, AppendingToASessionLogSyncsItWithin)
{
    const std::string log = writeSession("-p-app", 4);
    auto watcher = makeWatcher(makeDirectoryWatcher(), {200ms, 3600s, 300s});
    watcher->startWatching();
    QSignalSpy synced(watcher.get(), &FileWatcher::syncFinished);
    std::ofstream(log, std::ios::app) << userLine("a new question appended while working");
    ASSERT_TRUE(synced.wait(5000)) << "an append below the watched folder is noticed";
    EXPECT_EQ(reports(synced).back().outcome, SyncReport::Outcome::uploaded);

    // The watched folder deleted and created again: it is watched again, and a session
    // written there is synced.
    synced.clear();
    std::filesystem::remove_all(userHome + "/.claude/projects");
    ASSERT_TRUE(synced.wait(5000));
    QTest::qWait(400);
    synced.clear();
    std::filesystem::create_directories(userHome + "/.claude/projects/-p-new");
    QTest::qWait(100);
    writeSession("-p-new", 3);
    ASSERT_TRUE(synced.wait(5000));
    while (reports(synced).back().outcome != SyncReport::Outcome::uploaded && synced.wait(3000)) {
    }
    EXPECT_EQ(reports(synced).back().outcome, SyncReport::Outcome::uploaded);
    EXPECT_EQ(reports(synced).back().accepted, 1u);
    watcher->stopAll();
}

TEST(InotifyDirectoryWatcher, NewSubfoldersAreWatchedWithinTheBound)
{
    int argc = 1;
    char name[] = "test";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    quorral::test::TempHome home;
    for (int i = 0; i < 6; ++i)
        home.mkdir("root/d" + std::to_string(i));
    auto watcher = makeDirectoryWatcher({true, 4});
    ASSERT_TRUE(watcher->watch(QString::fromStdString(home / "root"), 3));
    EXPECT_EQ(watcher->watchCount(), 4) << "the root and three subfolders, then the bound";
    QSignalSpy changed(watcher.get(), &DirectoryWatcher::changed);

    auto limited = makeDirectoryWatcher({true, 100});
    ASSERT_TRUE(limited->watch(QString::fromStdString(home / "root"), 5));
    QSignalSpy seen(limited.get(), &DirectoryWatcher::changed);
    home.mkdir("root/d0/fresh");
    ASSERT_TRUE(seen.wait(2000));
    EXPECT_EQ(seen.first().first().toInt(), 5);
    seen.clear();
    home.write("root/d0/fresh/log.jsonl", "x");
    ASSERT_TRUE(seen.wait(2000)) << "a file written in a folder created after the start";

    // A folder that does not exist yet, two levels down: waited for on its parent.
    ASSERT_TRUE(limited->watch(QString::fromStdString(home / "later/logs"), 6));
    seen.clear();
    home.mkdir("later");
    home.mkdir("later/logs");
    ASSERT_TRUE(seen.wait(2000)) << "the folder appearing is a change";
    EXPECT_EQ(seen.last().first().toInt(), 6);
    seen.clear();
    home.mkdir("later/logs/project");
    home.write("later/logs/project/s.jsonl", "x");
    ASSERT_TRUE(seen.wait(2000)) << "and it is watched with its subtree";
    EXPECT_EQ(seen.last().first().toInt(), 6);
}
