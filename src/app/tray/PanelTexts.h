#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace quorral::app {

using SystemTime = std::chrono::system_clock::time_point;

// The fixed names of the first six levels; any other level shows the service's label.
QString levelLabel(std::int64_t level, const QString &serviceLabel);

// "—", "刚刚", "N 分钟前", "N 小时前" or "N 天前"; an instant in the future counts as now.
QString relativeTime(std::optional<SystemTime> instant, SystemTime now);

struct XpState {
    std::int64_t xp = 0;
    std::int64_t xpCurrentLevel = 0;
    std::optional<std::int64_t> xpNextLevel = 10;
    bool isMaxLevel = false;
};
QString xpLabel(const XpState &state);
// Between 0.02 and 1.0: the bar is never shown empty.
double xpProgress(const XpState &state);

// "今日：AI 用了 N 次记忆 · 学到 M 件事", either part alone, or nothing when both are 0.
std::optional<QString> todayActivityLabel(std::int64_t recalls, std::int64_t ingests);

// "Pro 到期还有 N 天" for plan "pro" expiring at least one whole day from now; the date must
// carry fractional seconds (2026-03-01T08:00:00.000Z), anything else shows nothing.
std::optional<QString> proExpiryLabel(const QString &plan, const std::optional<QString> &expiresAt, SystemTime now);

QString planLabel(const QString &plan);
QString displayInitial(const QString &displayName);
// "$12.50".
QString savedLabel(double savedUSD);

} // namespace quorral::app
