#pragma once

#include "scan/ScanTracker.h"
#include "scan/ScannedFile.h"

#include <string>
#include <vector>

namespace quorral::scan {

// The claims a scan left in flight for the records it returned, until the caller knows
// what became of each upload. Whatever is not settled is released when this goes, so a
// sync that ends early (an exception, its owner destroyed) sends the same files again.
class PendingClaims {
public:
    PendingClaims(ScanTracker &tracker, const std::vector<ScannedFile> &files);
    ~PendingClaims();
    PendingClaims(PendingClaims &&other) noexcept;
    PendingClaims &operator=(PendingClaims &&) = delete;
    PendingClaims(const PendingClaims &) = delete;
    PendingClaims &operator=(const PendingClaims &) = delete;

    // `done[i]` says whether the i-th file is finished with (stored, or refused for good):
    // those are recorded; the others are released to be read again. Then persists.
    void settle(const std::vector<bool> &done);
    // Records every file (nothing was to be sent, or all was stored), then persists.
    void commitAll();

private:
    ScanTracker *m_tracker;
    std::vector<std::string> m_paths;
};

} // namespace quorral::scan
