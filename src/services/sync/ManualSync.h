#pragma once

#include "api/APIClient.h"
#include "scan/PlatformScanner.h"
#include "scan/ScanTracker.h"
#include "sync/SyncState.h"
#include "sync/UnsentFiles.h"

#include <QString>
#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <vector>

namespace quorral::sync {

struct ManualSyncResult {
    int tools = 0;              // tools detected and scanned
    std::int64_t conversations = 0; // estimated messages in accepted files
    std::size_t filesFound = 0;
    std::size_t filesUploaded = 0;
    std::vector<std::string> pathsSent;    // every file the sync sent, whatever became of it
    std::vector<UnsentFile> unsent;        // the files not accepted, with what became of them
    QString message;            // what the tray shows afterwards
};

// The ids of the tools a manual sync covers, in its order (ChatGPT and DeepSeek are not part of it).
const std::vector<std::string> &manualSyncToolIds();

// The scanners of `all` that a manual sync runs, in its order.
std::vector<std::shared_ptr<scan::PlatformScanner>> manualSyncScanners(std::vector<std::unique_ptr<scan::PlatformScanner>> all);

// One pass over the tools: detect, scan what is new, upload it with the tool's id as
// source, and record the estimated new messages. The scanners claim through `tracker`;
// a file is recorded there only once its upload was accepted (or refused for good).
// `progress` gets each scanned tool's name.
// Scanning runs on the thread pool; the rest on the calling (main) thread.
QCoro::Task<ManualSyncResult> syncLocalMemories(std::vector<std::shared_ptr<scan::PlatformScanner>> scanners,
                                                scan::ScanTracker &tracker, api::APIClient &client,
                                                SyncState &state,
                                                std::function<void(const std::string &toolName)> progress = {});

} // namespace quorral::sync
