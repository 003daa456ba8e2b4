#include "wizard/WizardNavigation.h"

#include <gtest/gtest.h>

#include <iterator>

using namespace quorral;
using app::SetupPhase;
using app::WizardPage;

TEST(WizardNavigation, EveryPageInEveryPhase)
{
    using P = SetupPhase;
    using W = WizardPage;
    struct Row {
        W page;
        P phase;
        bool back;
        bool next;          // with a login done
        bool nextNoLogin;   // without one
        const char *label;
    };
    const Row table[] = {
        {W::welcome, P::idle, false, true, true, "下一步"},
        {W::welcome, P::scanning, false, true, true, "下一步"},
        {W::welcome, P::uploading, false, true, true, "下一步"},
        {W::welcome, P::configuring, false, true, true, "下一步"},
        {W::welcome, P::done, false, true, true, "下一步"},
        {W::registerPage, P::idle, true, true, false, "下一步"},
        {W::registerPage, P::scanning, true, true, false, "下一步"},
        {W::registerPage, P::uploading, true, true, false, "下一步"},
        {W::registerPage, P::configuring, true, true, false, "下一步"},
        {W::registerPage, P::done, true, true, false, "下一步"},
        {W::scan, P::idle, true, false, false, "下一步"},
        {W::scan, P::scanning, false, false, false, "扫描中…"},
        {W::scan, P::uploading, false, false, false, "上传中…"},
        {W::scan, P::configuring, false, false, false, "配置中…"},
        {W::scan, P::done, true, true, true, "下一步"},
        {W::browser, P::idle, true, true, true, "下一步"},
        {W::browser, P::scanning, true, true, true, "下一步"},
        {W::browser, P::uploading, true, true, true, "下一步"},
        {W::browser, P::configuring, true, true, true, "下一步"},
        {W::browser, P::done, true, true, true, "下一步"},
        {W::complete, P::idle, false, true, true, "完成"},
        {W::complete, P::scanning, false, true, true, "完成"},
        {W::complete, P::uploading, false, true, true, "完成"},
        {W::complete, P::configuring, false, true, true, "完成"},
        {W::complete, P::done, false, true, true, "完成"},
    };
    ASSERT_EQ(std::size(table), app::allWizardPages.size() * app::allSetupPhases.size());
    for (const auto &row : table) {
        SCOPED_TRACE(testing::Message() << "page " << app::rawValue(row.page) << ", phase " << static_cast<int>(row.phase));
        EXPECT_EQ(app::canGoBack(row.page, row.phase), row.back);
        EXPECT_EQ(app::canAdvance(row.page, row.phase, true), row.next);
        EXPECT_EQ(app::canAdvance(row.page, row.phase, false), row.nextNoLogin);
        EXPECT_EQ(app::nextLabel(row.page, row.phase), QString::fromUtf8(row.label));
    }
    EXPECT_EQ(app::previousPage(W::welcome), std::nullopt);
    EXPECT_EQ(app::nextPage(W::complete), std::nullopt);
    EXPECT_EQ(app::nextPage(W::scan), W::browser);
}

TEST(WizardNavigation, ScanTexts)
{
    using scan::ScanStatus;
    EXPECT_EQ(app::statusLabel(ScanStatus::waiting()), "等待…");
    EXPECT_EQ(app::statusLabel(ScanStatus::scanning()), "扫描中…");
    EXPECT_EQ(app::statusLabel(ScanStatus::notInstalled()), "未检测到");
    EXPECT_EQ(app::statusLabel(ScanStatus::found(0)), "无发现");
    EXPECT_EQ(app::statusLabel(ScanStatus::found(12)), "发现 ~12 条记忆");
    EXPECT_EQ(app::statusLabel(ScanStatus::error("无法读取 <b>x</b>")), "无法读取 <b>x</b>");
    EXPECT_EQ(app::statusIcon(ScanStatus::found(0)), app::StatusIcon::dimCheck);
    EXPECT_EQ(app::statusIcon(ScanStatus::found(1)), app::StatusIcon::greenCheck);
    EXPECT_EQ(app::statusIcon(ScanStatus::notInstalled()), app::StatusIcon::dimCircle);
    EXPECT_EQ(app::statusIcon(ScanStatus::error("x")), app::StatusIcon::warning);
    EXPECT_EQ(app::phaseStatus(SetupPhase::idle, 0, 0, 0), "准备中…");
    EXPECT_EQ(app::phaseStatus(SetupPhase::scanning, 42, 0, 0), "扫描中…已发现 ~42 条记忆");
    EXPECT_EQ(app::phaseStatus(SetupPhase::uploading, 42, 10, 42), "已上传 10 / 42 条记忆");
    EXPECT_EQ(app::phaseStatus(SetupPhase::configuring, 42, 42, 42), "配置中…");
    EXPECT_EQ(app::phaseStatus(SetupPhase::done, 42, 42, 42), "完成");
    EXPECT_EQ(app::poolSummary(7), "~7 条记忆已进入记忆池，原子化处理中");
    EXPECT_EQ(app::completeSummary(0, 0), std::nullopt);
    EXPECT_EQ(app::completeSummary(1200, 2), QStringLiteral("已从 2 个平台同步了 1200 条记忆"));
    EXPECT_EQ(app::scanHeaderTitle(SetupPhase::uploading), "正在上传你的记忆…");
    EXPECT_EQ(app::scanHeaderSubtitle(SetupPhase::configuring), "自动配置 MCP Server");
    EXPECT_EQ(app::sidebarTitle(WizardPage::registerPage), "账号");
}
