#include "scan/TableScanner.h"

#include "io/ReadFile.h"
#include "parallel/WeightedRuns.h"
#include "scan/GlobFiles.h"
#include "scan/TranscriptExtraction.h"
#include "text/Unicode.h"

#include <algorithm>
#include <filesystem>

namespace quorral::scan {
namespace {

constexpr std::int64_t logTranscriptBound = 150000;
// A whole-file source larger than this is no instruction file: it is not read at all.
constexpr std::uint64_t wholeFileBound = 8ull << 20;
// Below this many bytes to read, a second thread costs more than it saves.
constexpr std::size_t parallelExtractionThreshold = 4u << 20;

std::optional<std::string> apply(const ScanSource::PathRule &rule, const std::string &path)
{
    return rule ? rule(path) : std::nullopt;
}

} // namespace

TableScanner::TableScanner(ScannerSpec spec, ScanTracker &tracker) : m_spec(std::move(spec)), m_tracker(tracker) {}

bool TableScanner::detect() const
{
    return std::any_of(m_spec.presencePaths.begin(), m_spec.presencePaths.end(),
                       [](const std::string &path) { return io::exists(path); });
}

std::vector<std::string> TableScanner::listed(const ScanSource &source) const
{
    auto paths = globFiles(source.path, source.suffix);
    if (source.accept)
        std::erase_if(paths, [&](const std::string &path) { return !source.accept(path); });
    return paths;
}

std::vector<ScannedFile> TableScanner::scan() const
{
    std::vector<ScannedFile> out;
    for (const auto &source : m_spec.sources) {
        switch (source.kind) {
        case ScanSource::Kind::wholeFile:
            scanWholeFile(source, source.path, out);
            break;
        case ScanSource::Kind::globbedWholeFiles:
            for (const auto &path : listed(source))
                scanWholeFile(source, path, out);
            break;
        case ScanSource::Kind::conversationLogs: {
            // Claimed in the listing's order before any is read, so that the reads can run side by side.
            auto logs = listed(source);
            std::erase_if(logs, [&](const std::string &path) { return !m_tracker.claimIfNeeded(path); });
            scanConversationLogs(source, logs, out);
            break;
        }
        case ScanSource::Kind::copilotLogs:
            for (const auto &path : listed(source)) {
                if (m_tracker.claimIfNeeded(path))
                    scanCopilotLog(source, path, out);
            }
            break;
        case ScanSource::Kind::chatDocuments:
            for (const auto &path : listed(source)) {
                if (m_tracker.claimIfNeeded(path))
                    scanChatDocument(source, path, out);
            }
            break;
        }
    }
    const bool persist = m_spec.persist == ScannerSpec::Persist::always
        || (m_spec.persist == ScannerSpec::Persist::whenRecords && !out.empty());
    if (persist)
        m_tracker.persistCache();
    return out;
}

void TableScanner::scanWholeFile(const ScanSource &source, const std::string &path, std::vector<ScannedFile> &out) const
{
    if (!m_tracker.claimIfNeeded(path))
        return;
    // Files that cannot be used are recorded as seen: they are retried once they change.
    const auto file = io::openRegularFile(path);
    if (file && file->size > wholeFileBound) {
        m_tracker.noteSkipped({path, "larger than " + std::to_string(wholeFileBound >> 20) + " MiB ("
                                         + std::to_string(file->size) + " bytes)"});
        m_tracker.commit(path);
        return;
    }
    auto content = file ? io::readAll(*file) : std::nullopt;
    if (!content || !text::isValidUtf8(*content)) {
        m_tracker.commit(path);
        return;
    }
    // The claim stays in flight until the caller knows whether the upload was accepted.
    out.push_back(ScannedFile{path, std::move(*content), apply(source.hint, path), apply(source.tag, path), 1});
}

void TableScanner::scanConversationLogs(const ScanSource &source, const std::vector<std::string> &claimed,
                                        std::vector<ScannedFile> &out) const
{
    // Reading and parsing a log depends on nothing but the log and its offset: the logs are
    // extracted side by side in contiguous runs, weighted by the bytes each read takes.
    // The tracker's bookkeeping and the records then follow in the listing's order.
    std::vector<std::uint64_t> offsets(claimed.size());
    std::vector<std::size_t> weights(claimed.size());
    for (std::size_t i = 0; i < claimed.size(); ++i) {
        offsets[i] = m_tracker.lastFileSize(claimed[i]);
        std::error_code error;
        const std::uint64_t size = std::filesystem::file_size(claimed[i], error);
        const std::uint64_t unread = error ? 0 : size - std::min(size, offsets[i]);
        weights[i] = static_cast<std::size_t>(std::min(unread, tailLength));
    }
    std::vector<std::optional<ExtractedConversation>> extracted(claimed.size());
    parallel::forEachWeightedRun(
        claimed.size(), parallelExtractionThreshold, [&](std::size_t i) { return weights[i]; },
        [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i)
                extracted[i] = extractConversationFromJSONL(claimed[i], offsets[i], logTranscriptBound, source.format);
        });

    for (std::size_t i = 0; i < claimed.size(); ++i) {
        const auto &path = claimed[i];
        auto &result = extracted[i];
        if (!result) {
            m_tracker.commit(path);
            continue;
        }
        m_tracker.stageFileState(path, m_tracker.lastMessageCount(path) + result->messageCount, result->nextOffset,
                                 result->reachedEnd);
        if (result->content.empty()) {
            m_tracker.commit(path);
            continue;
        }
        out.push_back(ScannedFile{path, std::move(result->content), apply(source.hint, path), apply(source.tag, path),
                                  result->messageCount});
    }
}

// A document is rewritten whole, so its transcript is sent whole each time it changes.
void TableScanner::scanChatDocument(const ScanSource &source, const std::string &path,
                                    std::vector<ScannedFile> &out) const
{
    auto extracted = extractGeminiChatDocument(path, logTranscriptBound);
    if (!extracted || extracted->content.empty()) {
        m_tracker.commit(path);
        return;
    }
    m_tracker.stageFileState(path, extracted->messageCount, extracted->nextOffset);
    out.push_back(ScannedFile{path, std::move(extracted->content), apply(source.hint, path), apply(source.tag, path),
                              extracted->messageCount});
}

void TableScanner::scanCopilotLog(const ScanSource &source, const std::string &path, std::vector<ScannedFile> &out) const
{
    auto transcript = extractCopilotJSONL(path);
    if (!transcript) {
        m_tracker.commit(path);
        return;
    }
    out.push_back(ScannedFile{path, std::move(*transcript), apply(source.hint, path), apply(source.tag, path), 1});
}

} // namespace quorral::scan
