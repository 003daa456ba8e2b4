#pragma once

#include "settings/DefaultsStore.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace quorral::scan {

// A file a scan passed over, for the caller to log once.
struct SkippedFile {
    std::string path;
    std::string reason;
};

// What the scanners have already reported, kept across runs in the defaults store:
// the modification time at which each file was last claimed, and for conversation
// logs the running message count and the byte offset of the next incremental read.
//
// A claim is held in flight until its caller says what became of the file: `commit`
// records it (its content is stored, or there was nothing to send), `release` forgets
// the claim so that the next scan reads the same part again. So a file whose upload
// failed is never taken for done.
//
// All map access is serialised by one mutex (never held while calling out, so no
// operation can block on itself). The store is written outside it.
class ScanTracker {
public:
    static constexpr const char *mtimesKey = "quorral_scanned_mtimes";
    static constexpr const char *countsKey = "quorral_scanned_counts";
    static constexpr const char *sizesKey = "quorral_scanned_sizes";

    explicit ScanTracker(settings::DefaultsStore &store);

    // True when the file is new or modified since it was last recorded and no other claim
    // on it is in flight; the claim then holds the modification time seen now. Unreadable
    // attributes count as changed and hold nothing.
    bool claimIfNeeded(const std::string &path);

    std::int64_t lastMessageCount(const std::string &path);
    std::uint64_t lastFileSize(const std::string &path);

    // The log state to record with the claim on `path` when it is committed. Without
    // `recordTime` the modification time is left as it was, so the file is claimed again.
    void stageFileState(const std::string &path, std::int64_t messageCount, std::uint64_t nextOffset,
                        bool recordTime = true);
    void commit(const std::string &path);
    void release(const std::string &path);
    // Commits `done`, releases `retry`, then persists.
    void settle(const std::vector<std::string> &done, const std::vector<std::string> &retry);
    bool isInFlight(const std::string &path);

    // Forgets every recorded file that no longer exists; returns how many.
    std::size_t pruneMissing();

    void noteSkipped(SkippedFile file);
    std::vector<SkippedFile> takeSkipped();

    // Files the user's exclude rules kept out, counted per tool id (a count, so a long run
    // that nobody asks stays small).
    void noteExcluded(const std::string &toolId);
    std::unordered_map<std::string, std::int64_t> takeExcludedCounts();

    // The store the records are kept in; the scanners also read the user's privacy choice from it.
    const settings::DefaultsStore &defaults() const { return m_store; }

    void persistCache();
    void resetAll();

    // From now on only `path` can be claimed; every other file counts as unchanged.
    // Lets one file be run through the scanners to show what it would upload.
    void restrictClaimsTo(std::string path);

private:
    template <typename T>
    using PathMap = std::unordered_map<std::string, T>;

    struct Claim {
        std::optional<double> modified;
        std::optional<std::int64_t> messageCount;
        std::optional<std::uint64_t> nextOffset;
        bool recordTime = true;
    };

    PathMap<double> &mtimes();
    PathMap<std::int64_t> &counts();
    PathMap<std::int64_t> &sizes();
    void commitLocked(const std::string &path);

    settings::DefaultsStore &m_store;
    std::mutex m_queue;
    std::optional<PathMap<double>> m_mtimeCache;
    std::optional<PathMap<std::int64_t>> m_countCache;
    std::optional<PathMap<std::int64_t>> m_sizeCache;
    PathMap<Claim> m_inFlight;
    std::vector<SkippedFile> m_skipped;
    std::unordered_map<std::string, std::int64_t> m_excluded;
    std::optional<std::string> m_onlyPath;
};

} // namespace quorral::scan
