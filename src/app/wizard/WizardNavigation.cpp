#include "wizard/WizardNavigation.h"

namespace quorral::app {

std::optional<WizardPage> previousPage(WizardPage page)
{
    if (page == WizardPage::welcome)
        return std::nullopt;
    return static_cast<WizardPage>(rawValue(page) - 1);
}

std::optional<WizardPage> nextPage(WizardPage page)
{
    if (page == WizardPage::complete)
        return std::nullopt;
    return static_cast<WizardPage>(rawValue(page) + 1);
}

bool canGoBack(WizardPage page, SetupPhase phase)
{
    switch (page) {
    case WizardPage::welcome:
    case WizardPage::complete:
        return false;
    case WizardPage::scan:
        return phase == SetupPhase::idle || phase == SetupPhase::done;
    default:
        return true;
    }
}

bool canAdvance(WizardPage page, SetupPhase phase, bool hasRegistered)
{
    if (page == WizardPage::registerPage)
        return hasRegistered;
    if (page == WizardPage::scan)
        return phase == SetupPhase::done;
    return true;
}

QString nextLabel(WizardPage page, SetupPhase phase)
{
    if (page == WizardPage::complete)
        return QStringLiteral("完成");
    if (page == WizardPage::scan) {
        switch (phase) {
        case SetupPhase::scanning:
            return QStringLiteral("扫描中…");
        case SetupPhase::uploading:
            return QStringLiteral("上传中…");
        case SetupPhase::configuring:
            return QStringLiteral("配置中…");
        default:
            break;
        }
    }
    return QStringLiteral("下一步");
}

QString sidebarTitle(WizardPage page)
{
    switch (page) {
    case WizardPage::welcome:
        return QStringLiteral("欢迎");
    case WizardPage::registerPage:
        return QStringLiteral("账号");
    case WizardPage::scan:
        return QStringLiteral("扫描");
    case WizardPage::browser:
        return QStringLiteral("浏览器");
    case WizardPage::complete:
        return QStringLiteral("完成");
    }
    return {};
}

QString scanHeaderTitle(SetupPhase phase)
{
    switch (phase) {
    case SetupPhase::idle:
    case SetupPhase::scanning:
        return QStringLiteral("正在寻找你教过 AI 的一切…");
    case SetupPhase::uploading:
        return QStringLiteral("正在上传你的记忆…");
    case SetupPhase::configuring:
        return QStringLiteral("正在配置 AI 工具…");
    case SetupPhase::done:
        return QStringLiteral("扫描完成");
    }
    return {};
}

QString scanHeaderSubtitle(SetupPhase phase)
{
    switch (phase) {
    case SetupPhase::idle:
    case SetupPhase::scanning:
        return QStringLiteral("扫描本地 AI 工具的对话记录");
    case SetupPhase::uploading:
        return QStringLiteral("将扫描到的记忆上传到云端");
    case SetupPhase::configuring:
        return QStringLiteral("自动配置 MCP Server");
    case SetupPhase::done:
        return QStringLiteral("你的 AI 工具已经准备好了");
    }
    return {};
}

QString phaseStatus(SetupPhase phase, qint64 totalFound, qint64 uploadedCount, qint64 uploadTotal)
{
    switch (phase) {
    case SetupPhase::idle:
        return QStringLiteral("准备中…");
    case SetupPhase::scanning:
        return QStringLiteral("扫描中…已发现 ~%1 条记忆").arg(totalFound);
    case SetupPhase::uploading:
        return QStringLiteral("已上传 %1 / %2 条记忆").arg(uploadedCount).arg(uploadTotal);
    case SetupPhase::configuring:
        return QStringLiteral("配置中…");
    case SetupPhase::done:
        return QStringLiteral("完成");
    }
    return {};
}

StatusIcon statusIcon(const scan::ScanStatus &status)
{
    if (std::holds_alternative<scan::ScanStatus::Scanning>(status.state))
        return StatusIcon::spinner;
    if (const auto *found = std::get_if<scan::ScanStatus::Found>(&status.state))
        return found->count >= 1 ? StatusIcon::greenCheck : StatusIcon::dimCheck;
    if (std::holds_alternative<scan::ScanStatus::Error>(status.state))
        return StatusIcon::warning;
    return StatusIcon::dimCircle;
}

QString statusLabel(const scan::ScanStatus &status)
{
    if (std::holds_alternative<scan::ScanStatus::Waiting>(status.state))
        return QStringLiteral("等待…");
    if (std::holds_alternative<scan::ScanStatus::Scanning>(status.state))
        return QStringLiteral("扫描中…");
    if (std::holds_alternative<scan::ScanStatus::NotInstalled>(status.state))
        return QStringLiteral("未检测到");
    if (const auto *found = std::get_if<scan::ScanStatus::Found>(&status.state)) {
        if (found->count < 1)
            return QStringLiteral("无发现");
        return QStringLiteral("发现 ~%1 条记忆").arg(found->count);
    }
    if (const auto *error = std::get_if<scan::ScanStatus::Error>(&status.state))
        return QString::fromStdString(error->message);
    return {};
}

QString poolSummary(qint64 totalFound)
{
    return QStringLiteral("~%1 条记忆已进入记忆池，原子化处理中").arg(totalFound);
}

std::optional<QString> completeSummary(qint64 totalFound, qint64 platformCount)
{
    if (totalFound < 1)
        return std::nullopt;
    return QStringLiteral("已从 %1 个平台同步了 %2 条记忆").arg(platformCount).arg(totalFound);
}

} // namespace quorral::app
