#include "sync/ManualSync.h"

#include "scan/PendingClaims.h"
#include "scan/SkippedFilesLog.h"
#include "sync/ScannedUpload.h"

#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <algorithm>

namespace quorral::sync {
namespace {

struct ToolOutcome {
    bool detected = false;
    std::int64_t conversations = 0;
    std::size_t files = 0;
    std::size_t uploaded = 0;
    std::vector<UnsentFile> unsent;
    std::vector<std::string> sent;
};

// One tool of the pass; kept apart so that the loop holds no suspended locals (GCC 12).
QCoro::Task<ToolOutcome> syncOneTool(std::shared_ptr<scan::PlatformScanner> scanner, scan::ScanTracker &tracker,
                                     api::APIClient &client, std::function<void(const std::string &)> progress)
{
    ToolOutcome outcome;
    QFuture<bool> detecting = QtConcurrent::run([scanner] { return scanner->detect(); });
    outcome.detected = co_await detecting;
    if (!outcome.detected)
        co_return outcome;
    if (progress)
        progress(scanner->name());
    QFuture<std::vector<scan::ScannedFile>> scanning = QtConcurrent::run([scanner] { return scanner->scan(); });
    std::vector<scan::ScannedFile> files = co_await scanning;
    scan::logSkippedFiles(tracker);
    // Held from here: a file is recorded only once its upload is settled.
    scan::PendingClaims claims(tracker, files);
    if (files.empty())
        co_return outcome;

    outcome.files = files.size();
    std::string source = scanner->id();
    QCoro::Task<ScannedUpload> uploading = uploadScanned(client, std::move(files), std::move(claims), std::move(source));
    ScannedUpload upload = co_await uploading;
    outcome.uploaded = upload.accepted;
    outcome.conversations = upload.newMemories;
    outcome.sent = std::move(upload.sent);
    outcome.unsent = std::move(upload.unsent);
    co_return outcome;
}

} // namespace

const std::vector<std::string> &manualSyncToolIds()
{
    static const std::vector<std::string> ids{"claude-code", "cursor", "openclaw", "windsurf",
                                              "gemini",      "copilot", "trae",    "codex"};
    return ids;
}

std::vector<std::shared_ptr<scan::PlatformScanner>> manualSyncScanners(std::vector<std::unique_ptr<scan::PlatformScanner>> all)
{
    std::vector<std::shared_ptr<scan::PlatformScanner>> chosen;
    for (const auto &id : manualSyncToolIds()) {
        const auto it = std::find_if(all.begin(), all.end(), [&](const auto &s) { return s && s->id() == id; });
        if (it != all.end())
            chosen.push_back(std::move(*it));
    }
    return chosen;
}

QCoro::Task<ManualSyncResult> syncLocalMemories(std::vector<std::shared_ptr<scan::PlatformScanner>> scanners,
                                                scan::ScanTracker &tracker, api::APIClient &client,
                                                SyncState &state, std::function<void(const std::string &)> progress)
{
    ManualSyncResult result;
    for (const auto &scanner : scanners) {
        const ToolOutcome outcome = co_await syncOneTool(scanner, tracker, client, progress);
        result.tools += outcome.detected ? 1 : 0;
        result.conversations += outcome.conversations;
        result.filesFound += outcome.files;
        result.filesUploaded += outcome.uploaded;
        result.pathsSent.insert(result.pathsSent.end(), outcome.sent.begin(), outcome.sent.end());
        result.unsent.insert(result.unsent.end(), outcome.unsent.begin(), outcome.unsent.end());
    }
    if (result.conversations >= 1) {
        state.recordSync(result.conversations);
        result.message = QStringLiteral("扫描了 %1 个工具，发现 %2 条新对话").arg(result.tools).arg(result.conversations);
    } else {
        result.message = QStringLiteral("扫描了 %1 个工具，暂无新对话").arg(result.tools);
    }
    co_return result;
}

} // namespace quorral::sync
