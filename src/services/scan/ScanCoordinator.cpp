#include "scan/ScanCoordinator.h"

#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <algorithm>
#include <numeric>

namespace quorral::scan {

ScanCoordinator::ScanCoordinator(std::vector<std::unique_ptr<PlatformScanner>> scanners, ScanTracker &tracker,
                                 QObject *parent)
    : QObject(parent), m_tracker(tracker)
{
    for (auto &scanner : scanners)
        m_scanners.push_back(std::move(scanner));
    std::stable_sort(m_scanners.begin(), m_scanners.end(),
                     [](const auto &a, const auto &b) { return a->tier() < b->tier(); });
    for (const auto &scanner : m_scanners)
        m_results.push_back(PlatformScanResult{scanner->id(), scanner->name(), ScanStatus::waiting(), {}});
}

void ScanCoordinator::setStatus(std::size_t row, ScanStatus status)
{
    m_results[row].status = std::move(status);
    Q_EMIT resultsChanged();
}

void ScanCoordinator::setComplete()
{
    if (!m_isComplete) {
        m_isComplete = true;
        Q_EMIT isCompleteChanged();
    }
}

// Kept free of `continue` and of temporaries inside co_await expressions: GCC 12
// destroys such locals twice in coroutine loops.
QCoro::Task<> ScanCoordinator::scanRow(std::size_t row)
{
    // Shared with the worker, so the scanner outlives the call whatever happens to the row.
    const std::shared_ptr<PlatformScanner> scanner = m_scanners[row];
    setStatus(row, ScanStatus::scanning());
    QFuture<bool> detecting = QtConcurrent::run([scanner] { return scanner->detect(); });
    const bool detected = co_await detecting;
    if (!detected) {
        setStatus(row, ScanStatus::notInstalled());
        co_return;
    }
    QFuture<std::vector<ScannedFile>> scanning = QtConcurrent::run([scanner] { return scanner->scan(); });
    std::vector<ScannedFile> files = co_await scanning;
    if (files.empty()) {
        setStatus(row, ScanStatus::found(0));
        co_return;
    }
    const auto sum = std::accumulate(files.begin(), files.end(), std::int64_t{0},
                                     [](std::int64_t total, const ScannedFile &f) { return total + f.messageCount; });
    m_results[row].files = std::move(files);
    setStatus(row, ScanStatus::found(sum));
    m_totalFound += sum;
    Q_EMIT totalFoundChanged();
}

QCoro::Task<> ScanCoordinator::startScan()
{
    m_tracker.resetAll();
    for (std::size_t row = 0; row < m_scanners.size(); ++row)
        co_await scanRow(row);
    setComplete();
}

std::vector<ScannedFile> ScanCoordinator::allScannedFiles() const
{
    std::vector<ScannedFile> all;
    for (const auto &row : m_results)
        all.insert(all.end(), row.files.begin(), row.files.end());
    return all;
}

std::vector<ScannedFile> ScanCoordinator::takeAllScannedFiles()
{
    std::vector<ScannedFile> all;
    for (auto &row : m_results) {
        all.insert(all.end(), std::make_move_iterator(row.files.begin()), std::make_move_iterator(row.files.end()));
        row.files.clear();
    }
    return all;
}

} // namespace quorral::scan
