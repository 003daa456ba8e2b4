#include "sync/ScannedUpload.h"

#include "sync/SyncState.h"

namespace quorral::sync {

QCoro::Task<ScannedUpload> uploadScanned(api::APIClient &client, std::vector<scan::ScannedFile> files,
                                         scan::PendingClaims claims, std::string source)
{
    std::vector<api::ScannedFilePayload> payloads;
    std::int64_t messages = 0;
    payloads.reserve(files.size());
    for (auto &file : files) {
        // The transcripts are not needed here after the upload: moved, not copied.
        payloads.push_back({file.path, std::move(file.content), file.contextTag});
        messages += file.messageCount;
    }
    const api::UploadResult upload = co_await client.uploadScannedFilesReporting(std::move(payloads), source);
    claims.settle(upload.finished());

    ScannedUpload result;
    result.accepted = upload.accepted();
    result.refused = upload.count(api::UploadStatus::refused);
    for (std::size_t i = 0; i < files.size(); ++i) {
        result.sent.push_back(files[i].path);
        const auto status = i < upload.statuses.size() ? upload.statuses[i] : api::UploadStatus::failed;
        if (status != api::UploadStatus::accepted)
            result.unsent.push_back({source, files[i].path, status});
    }
    if (result.accepted >= 1)
        result.newMemories = estimateNewMemories(result.accepted, files.size(), messages);
    co_return result;
}

} // namespace quorral::sync
