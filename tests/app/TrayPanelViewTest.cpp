#include "AccountHelpers.h"
#include "AppFixture.h"
#include "tray/TrayPanelView.h"

#include <QSignalSpy>

#include <gmock/gmock.h>

using namespace quorral;
using namespace quorral::test;
using app::TrayPanelView;
using app::TrayPanelViewModel;
using testing::Contains;
using testing::Not;

namespace {

std::vector<std::string> texts(const TrayPanelView &view)
{
    std::vector<std::string> result;
    for (const auto &text : view.visibleTexts())
        result.push_back(text.toStdString());
    return result;
}

} // namespace

TEST_F(AppFixture, ThePanelShowsTheLoginCardThenTheAccount)
{
    TrayPanelViewModel model(*services, {});
    TrayPanelView view(model);
    QSignalSpy refreshed(&model, &TrayPanelViewModel::refreshFinished);
    view.show(); // showing refreshes and starts the timer
    EXPECT_EQ(refreshed.count(), 1);
    EXPECT_TRUE(model.isAutoRefreshing());
    EXPECT_EQ(view.size(), TrayPanelView::panelSize);

    const auto loggedOut = texts(view);
    for (const char *expected : {"登录 Quorral", "同步你的 AI 记忆到所有设备", "在浏览器中登录", "支持 Google · GitHub · 邮箱验证码",
                                 "退出 Quorral"})
        EXPECT_THAT(loggedOut, Contains(expected));
    EXPECT_THAT(loggedOut, Not(Contains("等待网页登录…")));
    view.grab().save(QString::fromUtf8(QUORRAL_SCREENSHOT_DIR "/tray-panel-logged-out.png"));

    services->client().setApiKey(newAccountKey(server.port()));
    ASSERT_TRUE(waitUntil([&] { return model.isLoggedIn() && model.referralLink().has_value(); }));
    ASSERT_TRUE(waitUntil([&] { return refreshed.count() >= 2; }));
    const auto loggedIn = texts(view);
    for (const char *expected : {"FREE", "陌生人", "0 / 10", "已学会 0 件事", "上次学习", "今日新增", "累计节省", "—", "$0.00",
                                 "同步本地记忆", "邀请朋友得 Pro", "打开 Dashboard", "设置", "退出登录", "退出 Quorral"})
        EXPECT_THAT(loggedIn, Contains(expected));
    EXPECT_THAT(loggedIn, Contains(testing::StartsWith("录入记忆")));
    EXPECT_THAT(loggedIn, Contains(testing::HasSubstr("Ctrl+Shift+M")));
    EXPECT_THAT(loggedIn, Contains(model.displayName().toStdString()));
    EXPECT_THAT(loggedIn, Not(Contains("登录 Quorral")));
    view.grab().save(QString::fromUtf8(QUORRAL_SCREENSHOT_DIR "/tray-panel-logged-in.png"));

    view.hide();
    EXPECT_FALSE(model.isAutoRefreshing());
}
