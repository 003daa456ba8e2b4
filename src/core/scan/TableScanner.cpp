#include "scan/TableScanner.h"

#include "io/ReadFile.h"
#include "scan/GlobFiles.h"
#include "scan/TranscriptExtraction.h"
#include "text/Unicode.h"

#include <algorithm>

namespace quorral::scan {
namespace {

constexpr std::int64_t logTranscriptBound = 150000;

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
    // The claim stays recorded when the read fails: the file is retried once it changes.
    auto content = io::readWholeFile(path);
    if (!content || !text::isValidUtf8(*content))
        return;
    out.push_back(ScannedFile{path, std::move(*content), apply(source.hint, path), apply(source.tag, path), 1});
}

void TableScanner::scanConversationLog(const ScanSource &source, const std::string &path,
                                       std::vector<ScannedFile> &out) const
{
    const auto offset = m_tracker.lastFileSize(path);
    auto extracted = extractConversationFromJSONL(path, offset, logTranscriptBound);
    if (!extracted)
        return;
    m_tracker.updateFileState(path, m_tracker.lastMessageCount(path) + extracted->messageCount, extracted->fileSize);
    out.push_back(ScannedFile{path, std::move(extracted->content), apply(source.hint, path), apply(source.tag, path),
                              extracted->messageCount});
}

void TableScanner::scanCopilotLog(const ScanSource &source, const std::string &path, std::vector<ScannedFile> &out) const
{
    auto transcript = extractCopilotJSONL(path);
    if (!transcript)
        return;
    out.push_back(ScannedFile{path, std::move(*transcript), apply(source.hint, path), apply(source.tag, path), 1});
}

} // namespace quorral::scan
