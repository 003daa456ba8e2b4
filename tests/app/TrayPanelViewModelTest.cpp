#include "AccountHelpers.h"
#include "AppFixture.h"
#include "async/WaitFor.h"
#include "io/ReadFile.h"
#include "tray/TrayPanelViewModel.h"

#include <QSignalSpy>
#include <QUrlQuery>

#include <gmock/gmock.h>

using namespace quorral;
using namespace quorral::test;
using namespace std::chrono_literals;
using app::TrayPanelEnvironment;
using app::TrayPanelViewModel;
using testing::StartsWith;

namespace {

class TrayPanelModel : public AppFixture {
protected:
    TrayPanelEnvironment environment()
    {
        TrayPanelEnvironment env;
        env.openUrl = [this](const QUrl &url) { opened.push_back(url); };
        env.copyText = [this](const QString &text) { copied.push_back(text); };
        env.syncMessageDuration = 300ms;
        env.copiedDuration = 150ms;
        env.refreshInterval = 60ms;
        return env;
    }

    std::unique_ptr<TrayPanelViewModel> makeModel()
    {
        auto model = std::make_unique<TrayPanelViewModel>(*services, environment());
        refreshes = std::make_unique<QSignalSpy>(model.get(), &TrayPanelViewModel::refreshFinished);
        return model;
    }

    // Logs in as a store of the key does: the notification makes the model refresh.
    void logIn(TrayPanelViewModel &model)
    {
        const auto before = refreshes->count();
        services->client().setApiKey(newAccountKey(server.port()));
        ASSERT_TRUE(waitUntil([&] { return refreshes->count() > before; }));
        ASSERT_TRUE(model.isLoggedIn());
    }

    std::vector<QUrl> opened;
    std::vector<QString> copied;
    std::unique_ptr<QSignalSpy> refreshes;
};

} // namespace

TEST_F(TrayPanelModel, StartsWithTheInitialValuesAndLogsOutNothing)
{
    auto model = makeModel();
    EXPECT_FALSE(model->isLoggedIn());
    EXPECT_EQ(model->totalMemories(), 0);
    EXPECT_EQ(model->lastSyncLabel(), QString::fromUtf8("—"));
    EXPECT_EQ(model->savedLabel(), "$0.00");
    EXPECT_EQ(model->displayName(), "User");
    EXPECT_EQ(model->plan(), "free");
    EXPECT_EQ(model->level(), 1);
    EXPECT_EQ(model->levelLabel(), QString::fromUtf8("陌生人"));
    EXPECT_EQ(model->xpNextLevel(), 10);
    EXPECT_EQ(model->xpLabel(), "0 / 10");
    EXPECT_FALSE(model->referralLink());
    EXPECT_FALSE(model->syncResultMessage());
    EXPECT_EQ(model->displayInitial(), "U");

    // Without a key a refresh asks the service nothing and leaves the values alone.
    model->refresh();
    EXPECT_EQ(refreshes->count(), 1);
    EXPECT_FALSE(model->isLoggedIn());
    EXPECT_EQ(model->displayName(), "User");
}

TEST_F(TrayPanelModel, ALoginFillsTheAccountAndLogoutClearsItButKeepsTheLocalCounts)
{
    auto model = makeModel();
    logIn(*model);
    ASSERT_TRUE(waitUntil([&] { return model->displayName() != "User"; }));
    EXPECT_EQ(model->planLabel(), "FREE");
    EXPECT_EQ(model->levelLabel(), QString::fromUtf8("陌生人"));
    ASSERT_TRUE(model->referralLink());
    EXPECT_THAT(model->referralLink()->toStdString(), StartsWith(server.origin() + "/?ref="));
    EXPECT_GT(model->referralLink()->size(), QString::fromStdString(server.origin() + "/?ref=").size());

    // A memory saved elsewhere shows at the next refresh, with today's local counts.
    async::waitFor(services->client().saveMemory("tabs, not spaces"));
    services->syncState().recordSync(4);
    model->refresh();
    ASSERT_TRUE(waitUntil([&] { return model->totalMemories() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return model->todayNewMemories() == 4; }));
    EXPECT_EQ(model->lastSyncLabel(), QString::fromUtf8("刚刚"));

    const std::string credentials = home / ".quorral/credentials";
    ASSERT_TRUE(io::exists(credentials));
    QSignalSpy loggedOut(model.get(), &TrayPanelViewModel::logoutFinished);
    model->logout();
    ASSERT_TRUE(waitUntil([&] { return loggedOut.count() == 1; }));
    EXPECT_FALSE(model->isLoggedIn());
    EXPECT_FALSE(io::exists(credentials));
    EXPECT_EQ(model->displayName(), "User");
    EXPECT_EQ(model->totalMemories(), 0);
    EXPECT_FALSE(model->referralLink());
    EXPECT_FALSE(model->userEmail());
    EXPECT_EQ(model->level(), 1);
    // The local statistics are this machine's, not the account's.
    EXPECT_EQ(model->todayNewMemories(), 4);
    EXPECT_EQ(model->lastSyncLabel(), QString::fromUtf8("刚刚"));
}

TEST_F(TrayPanelModel, TwoQuickPressesRunOneSyncWhoseMessageGoesAfterItsTime)
{
    auto model = makeModel();
    logIn(*model);
    // A conversation to upload, so the first sync is still running at the second press.
    home.write(".claude/projects/-work-demo/session.jsonl",
               io::readWholeFile(fixturesDirectory() + "/claude-code/claude-code-log__03eb5929-52b3-4b13-ada3-b93ae35806b8.jsonl")
                   .value());
    QSignalSpy finished(model.get(), &TrayPanelViewModel::syncFinished);
    model->syncLocalMemories();
    EXPECT_TRUE(model->isSyncing());
    model->syncLocalMemories();
    ASSERT_TRUE(waitUntil([&] { return finished.count() >= 1; }));
    // Well past the end of the one sync, a second would have finished too.
    waitUntil([] { return false; }, 200ms);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(model->isSyncing());
    EXPECT_EQ(model->syncProgress(), "");
    // Only the detected tool counts; what was uploaded is recorded.
    ASSERT_TRUE(model->syncResultMessage());
    EXPECT_TRUE(model->syncResultMessage()->startsWith(QString::fromUtf8("扫描了 1 个工具，发现 ")))
        << model->syncResultMessage()->toStdString();
    EXPECT_EQ(model->lastSyncLabel(), QString::fromUtf8("刚刚"));
    EXPECT_TRUE(services->syncState().lastSyncAt());
    EXPECT_GT(model->todayNewMemories(), 0);

    ASSERT_TRUE(waitUntil([&] { return !model->syncResultMessage(); }, 2s));
}

TEST_F(TrayPanelModel, ASyncRefusedTheLockScansNothing)
{
    auto env = environment();
    env.maySync = [] { return false; };
    TrayPanelViewModel model(*services, env);
    QSignalSpy finished(&model, &TrayPanelViewModel::syncFinished);
    home.write(".codex/sessions/2026/01/01/rollout.jsonl", "{}\n");
    model.syncLocalMemories();
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }));
    EXPECT_FALSE(model.isSyncing());
    ASSERT_TRUE(model.syncResultMessage());
    EXPECT_FALSE(model.syncResultMessage()->contains(QString::fromUtf8("扫描了")));
    EXPECT_FALSE(services->defaults().value("quorral_scanned_mtimes"));
}

TEST_F(TrayPanelModel, TheReferralLinkIsCopiedAndTheRowSaysSoForAWhile)
{
    auto model = makeModel();
    model->copyReferralLink();
    EXPECT_TRUE(copied.empty()); // no link yet: nothing happens
    EXPECT_FALSE(model->referralCopied());

    logIn(*model);
    ASSERT_TRUE(waitUntil([&] { return model->referralLink().has_value(); }));
    model->copyReferralLink();
    ASSERT_EQ(copied.size(), 1u);
    EXPECT_EQ(copied[0], *model->referralLink());
    EXPECT_TRUE(model->referralCopied());
    ASSERT_TRUE(waitUntil([&] { return !model->referralCopied(); }, 2s));
}

TEST_F(TrayPanelModel, DashboardAndSettingsOpenTheMagicLinkOrFallBack)
{
    auto model = makeModel();
    logIn(*model);
    model->openDashboard();
    ASSERT_TRUE(waitUntil([&] { return opened.size() == 1; }));
    EXPECT_EQ(opened[0].path(), "/magic");
    model->openSettings();
    ASSERT_TRUE(waitUntil([&] { return opened.size() == 2; }));
    EXPECT_EQ(opened[1].path(), "/magic");
    EXPECT_EQ(QUrlQuery(opened[1]).queryItemValue("redirect"), "/settings");
    // The link's own query stays, the redirect is added to it.
    EXPECT_EQ(QUrlQuery(opened[1]).queryItems().size(), QUrlQuery(opened[0]).queryItems().size() + 1);

    server.stop();
    model->openDashboard();
    ASSERT_TRUE(waitUntil([&] { return opened.size() == 3; }, 40s));
    EXPECT_EQ(opened[2], services->client().config().dashboardURL());
    model->openSettings();
    ASSERT_TRUE(waitUntil([&] { return opened.size() == 4; }, 40s));
    EXPECT_EQ(opened[3], services->client().config().settingsURL());
}

TEST_F(TrayPanelModel, RefreshesRepeatOnlyWhileAutoRefreshIsOn)
{
    auto model = makeModel();
    logIn(*model);
    model->startAutoRefresh();
    const auto started = refreshes->count();
    ASSERT_TRUE(waitUntil([&] { return refreshes->count() >= started + 3; }, 5s));
    model->stopAutoRefresh();
    waitUntil([] { return false; }, 150ms); // let a refresh already under way finish
    const auto stopped = refreshes->count();
    waitUntil([] { return false; }, 400ms);
    EXPECT_EQ(refreshes->count(), stopped);
}
