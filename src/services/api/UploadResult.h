#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace quorral::api {

// What became of one uploaded file.
enum class UploadStatus {
    accepted, // in a batch the service stored
    refused,  // too large for the service even alone: sending it again cannot help
    failed,   // its batch failed (unreachable, 5xx, 401, time-out): send it again later
};

// One status per file, in the order the files were given.
struct UploadResult {
    std::vector<UploadStatus> statuses;

    std::size_t count(UploadStatus status) const
    {
        return static_cast<std::size_t>(std::count(statuses.begin(), statuses.end(), status));
    }
    std::size_t accepted() const { return count(UploadStatus::accepted); }
    // Per file: whether it is finished with (stored, or refused for good) rather than to be sent again.
    std::vector<bool> finished() const
    {
        std::vector<bool> done;
        done.reserve(statuses.size());
        for (const auto status : statuses)
            done.push_back(status != UploadStatus::failed);
        return done;
    }
};

} // namespace quorral::api
