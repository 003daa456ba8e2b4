#pragma once

#include "scan/PlatformScanResult.h"
#include "scan/PlatformScanner.h"
#include "scan/ScanTracker.h"

#include <QObject>
#include <qcoro/qcorotask.h>

#include <memory>
#include <vector>

namespace quorral::scan {

// Runs every tool scanner once, one after another, and publishes each tool's progress.
// Lives on the main thread; the scanners' file work runs on the thread pool.
class ScanCoordinator : public QObject {
    Q_OBJECT
public:
    ScanCoordinator(std::vector<std::unique_ptr<PlatformScanner>> scanners, ScanTracker &tracker,
                    QObject *parent = nullptr);

    const std::vector<PlatformScanResult> &results() const { return m_results; }
    std::int64_t totalFound() const { return m_totalFound; }
    bool isComplete() const { return m_isComplete; }

    // Forgets what the tracker knew, then detects and scans each tool in order.
    QCoro::Task<> startScan();

    // The records of all rows in row order.
    std::vector<ScannedFile> allScannedFiles() const;
    // The same, moved out of the rows (their statuses stay): for the one caller that
    // uploads them, without copying every transcript.
    std::vector<ScannedFile> takeAllScannedFiles();

Q_SIGNALS:
    void resultsChanged();
    void totalFoundChanged();
    void isCompleteChanged();

private:
    QCoro::Task<> scanRow(std::size_t row);
    void setStatus(std::size_t row, ScanStatus status);
    void setComplete();

    std::vector<std::shared_ptr<PlatformScanner>> m_scanners;
    ScanTracker &m_tracker;
    std::vector<PlatformScanResult> m_results;
    std::int64_t m_totalFound = 0;
    bool m_isComplete = false;
};

} // namespace quorral::scan
