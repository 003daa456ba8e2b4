#include "AccountHelpers.h"
#include "AppFixture.h"
#include "DesktopApplication.h"
#include "sync/SyncLock.h"

#include <QSignalSpy>

using namespace quorral;
using namespace quorral::test;
using app::DesktopApplication;

namespace {

class DesktopApplicationTest : public AppFixture {
protected:
    DesktopApplicationTest() { qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(home.mkdir("run"))); }
    ~DesktopApplicationTest() override { qunsetenv("XDG_RUNTIME_DIR"); }

    // Launches and waits for the key check's verdict.
    bool launchAndCheck(DesktopApplication &desktop)
    {
        QSignalSpy checked(&desktop, &DesktopApplication::watcherChecked);
        desktop.launch();
        EXPECT_TRUE(waitUntil([&] { return checked.count() >= 1; }));
        return checked.count() >= 1 && checked.at(0).at(0).toBool();
    }
};

} // namespace

TEST_F(DesktopApplicationTest, NoWatcherWithoutAKeyThenOneAfterTheLogin)
{
    DesktopApplication desktop(*services, {});
    EXPECT_FALSE(launchAndCheck(desktop));
    EXPECT_EQ(services->watcher(), nullptr);

    QSignalSpy checked(&desktop, &DesktopApplication::watcherChecked);
    services->client().setApiKey(newAccountKey(server.port()));
    ASSERT_TRUE(waitUntil([&] { return checked.count() == 1; }));
    EXPECT_TRUE(checked.at(0).at(0).toBool());
    ASSERT_NE(services->watcher(), nullptr);
    EXPECT_TRUE(desktop.holdsSyncLock());

    // A logout leaves the running watcher alone.
    auto *running = services->watcher();
    services->client().clearApiKey();
    ASSERT_TRUE(waitUntil([&] { return checked.count() == 2; }));
    EXPECT_EQ(services->watcher(), running);

    desktop.shutdown();
    EXPECT_EQ(services->watcher(), nullptr);
}

TEST_F(DesktopApplicationTest, AKeyTooShortCountsAsNone)
{
    home.write(".quorral/credentials", "qo_sk_1234");
    DesktopApplication desktop(*services, {});
    EXPECT_FALSE(launchAndCheck(desktop));
    EXPECT_EQ(services->watcher(), nullptr);
}

TEST_F(DesktopApplicationTest, WhileADaemonHoldsTheSyncLockThePanelWorksWithoutAWatcher)
{
    services->client().setApiKey(newAccountKey(server.port()));
    QCoreApplication::processEvents(); // the key's notification goes out before the launch
    sync::SyncLock daemon(home.path());
    ASSERT_TRUE(daemon.tryLock());

    DesktopApplication desktop(*services, {});
    EXPECT_FALSE(launchAndCheck(desktop));
    EXPECT_EQ(services->watcher(), nullptr);
    EXPECT_FALSE(desktop.holdsSyncLock());

    auto &model = desktop.tray().model();
    model.refresh();
    ASSERT_TRUE(waitUntil([&] { return model.isLoggedIn() && model.displayName() != "User"; }));
    QSignalSpy synced(&model, &app::TrayPanelViewModel::syncFinished);
    model.syncLocalMemories();
    ASSERT_TRUE(waitUntil([&] { return synced.count() == 1; }));
    EXPECT_FALSE(model.syncResultMessage()->contains(QString::fromUtf8("扫描了")));

    // Once the daemon stops, the application takes over the watching.
    daemon.unlock();
    ASSERT_TRUE(waitUntil([&] { return services->watcher() != nullptr; }, std::chrono::seconds(12)));
    EXPECT_TRUE(desktop.holdsSyncLock());
}
