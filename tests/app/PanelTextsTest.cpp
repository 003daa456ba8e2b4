#include "tray/PanelTexts.h"

#include <QDateTime>

#include <gtest/gtest.h>

using namespace quorral::app;
using namespace std::chrono_literals;

TEST(PanelTexts, LevelNamesCoverTheFirstSixLevelsOnly)
{
    const struct {
        std::int64_t level;
        const char *service;
        const char *shown;
    } cases[] = {
        {1, "x", "陌生人"}, {2, "x", "相识"}, {3, "Explorer", "探索者"}, {4, "x", "知己"},
        {5, "x", "默契"},   {6, "x", "心有灵犀"}, {7, "传奇", "传奇"},     {0, "新手", "新手"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(levelLabel(c.level, QString::fromUtf8(c.service)), QString::fromUtf8(c.shown)) << c.level;
}

TEST(PanelTexts, RelativeTimeTruncatesToTheLargestWholeUnit)
{
    const SystemTime now = SystemTime(std::chrono::hours(500'000));
    const struct {
        std::optional<std::chrono::seconds> ago;
        const char *text;
    } cases[] = {
        {std::nullopt, "—"},       {0s, "刚刚"},           {59s, "刚刚"},          {-3600s, "刚刚"},
        {60s, "1 分钟前"},         {61s, "1 分钟前"},      {3599s, "59 分钟前"},   {3600s, "1 小时前"},
        {86399s, "23 小时前"},     {25h, "1 天前"},        {24h * 40, "40 天前"},
    };
    for (const auto &c : cases) {
        const auto instant = c.ago ? std::optional<SystemTime>(now - *c.ago) : std::nullopt;
        EXPECT_EQ(relativeTime(instant, now), QString::fromUtf8(c.text)) << (c.ago ? c.ago->count() : -1);
    }
}

TEST(PanelTexts, ExperienceLabelAndBar)
{
    EXPECT_EQ(xpLabel({4, 0, std::nullopt, false}), "4 / 10");
    EXPECT_DOUBLE_EQ(xpProgress({4, 0, std::nullopt, false}), 0.4);
    // Never shown empty, never over full.
    EXPECT_DOUBLE_EQ(xpProgress({5, 5, 20, false}), 0.02);
    EXPECT_DOUBLE_EQ(xpProgress({50, 5, 20, false}), 1.0);
    // A span below one counts as one instead of dividing by zero.
    EXPECT_DOUBLE_EQ(xpProgress({20, 20, 20, false}), 0.02);
    EXPECT_DOUBLE_EQ(xpProgress({21, 20, 20, false}), 1.0);
    EXPECT_EQ(xpLabel({1234, 1000, std::nullopt, true}), QString::fromUtf8("1234 XP — MAX"));
    EXPECT_DOUBLE_EQ(xpProgress({1234, 1000, std::nullopt, true}), 1.0);
    EXPECT_EQ(xpLabel({30, 20, 45, false}), "30 / 45");
}

TEST(PanelTexts, TodayActivityShowsOnlyWhatHappened)
{
    EXPECT_FALSE(todayActivityLabel(0, 0));
    EXPECT_EQ(todayActivityLabel(3, 0), QString::fromUtf8("今日：AI 用了 3 次记忆"));
    EXPECT_EQ(todayActivityLabel(0, 2), QString::fromUtf8("今日：学到 2 件事"));
    EXPECT_EQ(todayActivityLabel(3, 2), QString::fromUtf8("今日：AI 用了 3 次记忆 · 学到 2 件事"));
}

TEST(PanelTexts, ProExpiryNeedsPlanProFractionalSecondsAndAWholeDay)
{
    const SystemTime now = std::chrono::sys_days(std::chrono::year(2026) / 3 / 1) + 8h;
    const auto in = [&](std::chrono::hours hours, bool fraction = true) {
        const auto when = QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>((now + hours).time_since_epoch()).count(), Qt::UTC);
        return std::optional<QString>(when.toString(fraction ? "yyyy-MM-ddTHH:mm:ss.zzzZ" : "yyyy-MM-ddTHH:mm:ssZ"));
    };
    EXPECT_EQ(proExpiryLabel("pro", in(36h), now), QString::fromUtf8("Pro 到期还有 1 天"));
    EXPECT_EQ(proExpiryLabel("pro", in(24h * 30 + 1h), now), QString::fromUtf8("Pro 到期还有 30 天"));
    EXPECT_FALSE(proExpiryLabel("pro", in(10h), now));
    EXPECT_FALSE(proExpiryLabel("pro", in(-48h), now));
    EXPECT_FALSE(proExpiryLabel("Pro", in(36h), now));
    EXPECT_FALSE(proExpiryLabel("free", in(36h), now));
    EXPECT_FALSE(proExpiryLabel("pro", in(36h, false), now));
    EXPECT_FALSE(proExpiryLabel("pro", std::nullopt, now));
    EXPECT_FALSE(proExpiryLabel("pro", QString("soon"), now));
}

TEST(PanelTexts, PlanInitialAndSavings)
{
    EXPECT_EQ(planLabel("pro"), "PRO");
    EXPECT_EQ(planLabel("Pro"), "FREE");
    EXPECT_EQ(planLabel("free"), "FREE");
    EXPECT_EQ(displayInitial("ada"), "A");
    EXPECT_EQ(displayInitial(QString::fromUtf8("张三")), QString::fromUtf8("张"));
    EXPECT_EQ(displayInitial(QString::fromUtf8("😀x")), QString::fromUtf8("😀"));
    EXPECT_EQ(displayInitial(""), "");
    EXPECT_EQ(savedLabel(0), "$0.00");
    EXPECT_EQ(savedLabel(12.345), "$12.35");
    EXPECT_EQ(savedLabel(1234.5), "$1234.50");
}
