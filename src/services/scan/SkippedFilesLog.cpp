#include "scan/SkippedFilesLog.h"

#include <QLoggingCategory>
#include <QString>

namespace quorral::scan {
namespace {
Q_LOGGING_CATEGORY(lcScan, "quorral.scan")
}

void logSkippedFiles(ScanTracker &tracker)
{
    for (const auto &file : tracker.takeSkipped())
        qCWarning(lcScan).noquote() << QStringLiteral("skipped %1: %2")
                                           .arg(QString::fromStdString(file.path), QString::fromStdString(file.reason));
}

} // namespace quorral::scan
