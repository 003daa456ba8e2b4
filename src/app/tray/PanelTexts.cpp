#include "tray/PanelTexts.h"

#include <QDateTime>
#include <QRegularExpression>

#include <algorithm>
#include <array>

namespace quorral::app {

QString levelLabel(std::int64_t level, const QString &serviceLabel)
{
    static const std::array<const char *, 6> names = {"陌生人", "相识", "探索者", "知己", "默契", "心有灵犀"};
    if (level >= 1 && level <= static_cast<std::int64_t>(names.size()))
        return QString::fromUtf8(names[static_cast<std::size_t>(level - 1)]);
    return serviceLabel;
}

QString relativeTime(std::optional<SystemTime> instant, SystemTime now)
{
    if (!instant)
        return QStringLiteral("—");
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - *instant).count();
    if (seconds < 60)
        return QStringLiteral("刚刚");
    if (seconds < 3600)
        return QString::number(seconds / 60) + QStringLiteral(" 分钟前");
    if (seconds < 86400)
        return QString::number(seconds / 3600) + QStringLiteral(" 小时前");
    return QString::number(seconds / 86400) + QStringLiteral(" 天前");
}

QString xpLabel(const XpState &state)
{
    if (state.isMaxLevel)
        return QString::number(state.xp) + QStringLiteral(" XP — MAX");
    return QString::number(state.xp) + QStringLiteral(" / ") + QString::number(state.xpNextLevel.value_or(10));
}

double xpProgress(const XpState &state)
{
    if (state.isMaxLevel)
        return 1.0;
    const auto span = std::max<std::int64_t>(state.xpNextLevel.value_or(10) - state.xpCurrentLevel, 1);
    const double progress = static_cast<double>(state.xp - state.xpCurrentLevel) / static_cast<double>(span);
    return std::clamp(progress, 0.02, 1.0);
}

std::optional<QString> todayActivityLabel(std::int64_t recalls, std::int64_t ingests)
{
    QStringList parts;
    if (recalls >= 1)
        parts << QStringLiteral("AI 用了 ") + QString::number(recalls) + QStringLiteral(" 次记忆");
    if (ingests >= 1)
        parts << QStringLiteral("学到 ") + QString::number(ingests) + QStringLiteral(" 件事");
    if (parts.isEmpty())
        return std::nullopt;
    return QStringLiteral("今日：") + parts.join(QStringLiteral(" · "));
}

std::optional<QString> proExpiryLabel(const QString &plan, const std::optional<QString> &expiresAt, SystemTime now)
{
    if (plan != QLatin1String("pro") || !expiresAt)
        return std::nullopt;
    // An internet date-time with fractional seconds, as the service writes it.
    static const QRegularExpression form(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d+(Z|[+-]\d{2}:\d{2})$)"));
    if (!form.match(*expiresAt).hasMatch())
        return std::nullopt;
    const QDateTime expiry = QDateTime::fromString(*expiresAt, Qt::ISODateWithMs);
    if (!expiry.isValid())
        return std::nullopt;
    const auto nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const qint64 days = (expiry.toMSecsSinceEpoch() - nowMs) / (86'400'000);
    if (days < 1)
        return std::nullopt;
    return QStringLiteral("Pro 到期还有 ") + QString::number(days) + QStringLiteral(" 天");
}

QString planLabel(const QString &plan)
{
    return plan == QLatin1String("pro") ? QStringLiteral("PRO") : QStringLiteral("FREE");
}

QString displayInitial(const QString &displayName)
{
    if (displayName.isEmpty())
        return {};
    // The first character, which may be a surrogate pair.
    const int length = displayName.at(0).isHighSurrogate() && displayName.size() > 1 ? 2 : 1;
    return displayName.left(length).toUpper();
}

QString savedLabel(double savedUSD)
{
    return QString::asprintf("$%.2f", savedUSD);
}

} // namespace quorral::app
