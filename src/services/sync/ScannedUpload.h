#pragma once

#include "api/APIClient.h"
#include "scan/PendingClaims.h"
#include "scan/ScannedFile.h"
#include "sync/UnsentFiles.h"

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quorral::sync {

// What became of the files one scan of a tool found.
struct ScannedUpload {
    std::size_t accepted = 0;
    std::size_t refused = 0;
    std::int64_t newMemories = 0;   // estimated from the accepted files; 0 when none was
    std::vector<std::string> sent;  // every file sent, whatever became of it
    std::vector<UnsentFile> unsent; // those not accepted, with what became of them
};

// Uploads `files` with `source` and settles their claims: accepted and refused files are
// recorded, failed ones released to be read again by the next sync.
QCoro::Task<ScannedUpload> uploadScanned(api::APIClient &client, std::vector<scan::ScannedFile> files,
                                         scan::PendingClaims claims, std::string source);

} // namespace quorral::sync
