#include "scan/TableScanner.h"

#include "io/ReadFile.h"
#include "scan/GlobFiles.h"
#include "scan/TranscriptExtraction.h"
#include "text/Unicode.h"

#include <algorithm>

namespace quorral::scan {
namespace {

constexpr std::int64_t logTranscriptBound = 150000;
// A whole-file source larger than this is no instruction file: it is not read at all.
constexpr std::uint64_t wholeFileBound = 8ull << 20;

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
        case ScanSource::Kind::conversationLogs:
            if (source.claimAllFirst) {
                auto logs = listed(source);
                std::erase_if(logs, [&](const std::string &path) { return !m_tracker.claimIfNeeded(path); });
                for (const auto &path : logs)
                    scanConversationLog(source, path, out);
            } else {
                for (const auto &path : listed(source)) {
                    if (m_tracker.claimIfNeeded(path))
                        scanConversationLog(source, path, out);
                }
            }
            break;
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
    std::optional<std::string> content;
    if (file) {
        content.emplace(static_cast<std::size_t>(file->size), '\0');
        const auto got = io::readInto(*file, 0, content->data(), content->size());
        if (got)
            content->resize(*got);
        else
            content.reset();
    }
    if (!content || !text::isValidUtf8(*content)) {
        m_tracker.commit(path);
        return;
    }
    // The claim stays in flight until the caller knows whether the upload was accepted.
    out.push_back(ScannedFile{path, std::move(*content), apply(source.hint, path), apply(source.tag, path), 1});
}

void TableScanner::scanConversationLog(const ScanSource &source, const std::string &path,
                                       std::vector<ScannedFile> &out) const
{
    const auto offset = m_tracker.lastFileSize(path);
    auto extracted = extractConversationFromJSONL(path, offset, logTranscriptBound, source.format);
    if (!extracted) {
        m_tracker.commit(path);
        return;
    }
    m_tracker.stageFileState(path, m_tracker.lastMessageCount(path) + extracted->messageCount, extracted->nextOffset,
                             extracted->reachedEnd);
    if (extracted->content.empty()) {
        m_tracker.commit(path);
        return;
    }
    out.push_back(ScannedFile{path, std::move(extracted->content), apply(source.hint, path), apply(source.tag, path),
                              extracted->messageCount});
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
