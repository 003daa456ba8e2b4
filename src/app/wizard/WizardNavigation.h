#pragma once

#include "scan/ScanStatus.h"

#include <QString>

#include <array>
#include <optional>

namespace quorral::app {

enum class WizardPage { welcome = 0, registerPage = 1, scan = 2, browser = 3, complete = 4 };
inline constexpr std::array<WizardPage, 5> allWizardPages{WizardPage::welcome, WizardPage::registerPage, WizardPage::scan,
                                                          WizardPage::browser, WizardPage::complete};

// The scan page's pipeline, in order.
enum class SetupPhase { idle, scanning, uploading, configuring, done };
inline constexpr std::array<SetupPhase, 5> allSetupPhases{SetupPhase::idle, SetupPhase::scanning, SetupPhase::uploading,
                                                          SetupPhase::configuring, SetupPhase::done};

inline int rawValue(WizardPage page) { return static_cast<int>(page); }
std::optional<WizardPage> previousPage(WizardPage page);
std::optional<WizardPage> nextPage(WizardPage page);

// The navigation rules, pure so that a table can check every page and phase.
bool canGoBack(WizardPage page, SetupPhase phase);
bool canAdvance(WizardPage page, SetupPhase phase, bool hasRegistered);
QString nextLabel(WizardPage page, SetupPhase phase);

// The texts of the sidebar and the scan page.
QString sidebarTitle(WizardPage page);
QString scanHeaderTitle(SetupPhase phase);
QString scanHeaderSubtitle(SetupPhase phase);
QString phaseStatus(SetupPhase phase, qint64 totalFound, qint64 uploadedCount, qint64 uploadTotal);

// How one tool's row of the scan page shows its status.
enum class StatusIcon { dimCircle, spinner, dimCheck, greenCheck, warning };
StatusIcon statusIcon(const scan::ScanStatus &status);
QString statusLabel(const scan::ScanStatus &status);

// "~N 条记忆已进入记忆池，原子化处理中"
QString poolSummary(qint64 totalFound);
// The complete page's "已从 …" line; absent when nothing was found.
std::optional<QString> completeSummary(qint64 totalFound, qint64 platformCount);

} // namespace quorral::app
