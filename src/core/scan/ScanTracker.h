#pragma once

#include "settings/DefaultsStore.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace quorral::scan {

// What the scanners have already reported, kept across runs in the defaults store:
// the modification time at which each file was last claimed, and for conversation
// logs the running message count and the byte offset of the next incremental read.
//
// All map access is serialised by one mutex (never held while calling out, so no
// operation can block on itself). The store is written outside it.
class ScanTracker {
public:
    static constexpr const char *mtimesKey = "quorral_scanned_mtimes";
    static constexpr const char *countsKey = "quorral_scanned_counts";
    static constexpr const char *sizesKey = "quorral_scanned_sizes";

    explicit ScanTracker(settings::DefaultsStore &store);

    // True when the file is new or modified since it was last claimed, and then records
    // its modification time. Unreadable attributes count as changed and record nothing.
    bool claimIfNeeded(const std::string &path);

    std::int64_t lastMessageCount(const std::string &path);
    std::uint64_t lastFileSize(const std::string &path);
    void updateFileState(const std::string &path, std::int64_t messageCount, std::uint64_t fileSize);

    void persistCache();
    void resetAll();

    // From now on only `path` can be claimed; every other file counts as unchanged.
    // Lets one file be run through the scanners to show what it would upload.
    void restrictClaimsTo(std::string path);

private:
    template <typename T>
    using PathMap = std::unordered_map<std::string, T>;

    PathMap<double> &mtimes();
    PathMap<std::int64_t> &counts();
    PathMap<std::int64_t> &sizes();

    settings::DefaultsStore &m_store;
    std::mutex m_queue;
    std::optional<PathMap<double>> m_mtimeCache;
    std::optional<PathMap<std::int64_t>> m_countCache;
    std::optional<PathMap<std::int64_t>> m_sizeCache;
    std::optional<std::string> m_onlyPath;
};

} // namespace quorral::scan
