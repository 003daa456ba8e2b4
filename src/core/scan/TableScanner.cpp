#include "scan/TableScanner.h"

#include "io/ReadFile.h"
#include "parallel/WeightedRuns.h"
#include "privacy/ExcludeRules.h"
#include "privacy/PrivacySettings.h"
#include "privacy/Redaction.h"
#include "scan/ProjectOptOut.h"
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

struct TableScanner::Pass {
    privacy::ExcludeRules rules;
    ProjectOptOut projects;
    bool redact = true;
};

TableScanner::TableScanner(ScannerSpec spec, std::string home, ScanTracker &tracker)
    : m_spec(std::move(spec)), m_home(std::move(home)), m_tracker(tracker)
{
}

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

std::vector<std::string> TableScanner::listedAndIncluded(Pass &pass, const ScanSource &source) const
{
    auto paths = listed(source);
    std::erase_if(paths, [&](const std::string &path) { return excludedByRule(pass, path); });
    return paths;
}

bool TableScanner::excludedByRule(Pass &pass, const std::string &path) const
{
    if (!pass.rules.excludesPath(path))
        return false;
    m_tracker.noteExcluded(m_spec.id);
    return true;
}

bool TableScanner::claimLog(Pass &pass, const std::string &path) const
{
    if (!m_tracker.claimIfNeeded(path))
        return false;
    // Only a log that changed is looked into for its project: the others cost nothing.
    if (!pass.projects.excludes(path))
        return true;
    m_tracker.release(path);
    m_tracker.noteExcluded(m_spec.id);
    return false;
}

std::size_t TableScanner::countCandidates() const
{
    std::size_t count = 0;
    for (const auto &source : m_spec.sources)
        count += source.kind == ScanSource::Kind::wholeFile ? (io::exists(source.path) ? 1 : 0) : listed(source).size();
    return count;
}

void TableScanner::deliver(Pass &pass, ScannedFile file, bool jsonDocument, std::vector<ScannedFile> &out) const
{
    if (pass.redact) {
        const auto counts = jsonDocument ? privacy::redactJsonSecretsIn(file.content)
                                         : privacy::redactSecretsIn(file.content);
        file.redactedValues = counts.total();
    }
    out.push_back(std::move(file));
}

std::vector<ScannedFile> TableScanner::scan() const
{
    // Read again for every scan, so a change to the rules or the setting counts at the next one.
    Pass pass{privacy::ExcludeRules::load(m_home), {}, privacy::redactionEnabled(m_tracker.defaults())};
    if (pass.rules.excludesTool(m_spec.id)) {
        for (std::size_t i = countCandidates(); i > 0; --i)
            m_tracker.noteExcluded(m_spec.id);
        return {};
    }
    std::vector<ScannedFile> out;
    for (const auto &source : m_spec.sources) {
        switch (source.kind) {
        case ScanSource::Kind::wholeFile:
            if (io::exists(source.path) && excludedByRule(pass, source.path))
                break;
            scanWholeFile(pass, source, source.path, out);
            break;
        case ScanSource::Kind::globbedWholeFiles:
            for (const auto &path : listedAndIncluded(pass, source))
                scanWholeFile(pass, source, path, out);
            break;
        case ScanSource::Kind::conversationLogs: {
            // Claimed in the listing's order before any is read, so that the reads can run side by side.
            auto logs = listedAndIncluded(pass, source);
            std::erase_if(logs, [&](const std::string &path) { return !claimLog(pass, path); });
            scanConversationLogs(pass, source, logs, out);
            break;
        }
        case ScanSource::Kind::copilotLogs:
            for (const auto &path : listedAndIncluded(pass, source)) {
                if (claimLog(pass, path))
                    scanCopilotLog(pass, source, path, out);
            }
            break;
        case ScanSource::Kind::chatDocuments:
            for (const auto &path : listedAndIncluded(pass, source)) {
                if (claimLog(pass, path))
                    scanChatDocument(pass, source, path, out);
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

void TableScanner::scanWholeFile(Pass &pass, const ScanSource &source, const std::string &path,
                                 std::vector<ScannedFile> &out) const
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
    // Settings kept as JSON keep their structure; only the secret values change.
    deliver(pass, ScannedFile{path, std::move(*content), apply(source.hint, path), apply(source.tag, path), 1},
         path.ends_with(".json"), out);
}

void TableScanner::scanConversationLogs(Pass &pass, const ScanSource &source, const std::vector<std::string> &claimed,
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
        deliver(pass,
             ScannedFile{path, std::move(result->content), apply(source.hint, path), apply(source.tag, path),
                         result->messageCount},
             false, out);
    }
}

// A document is rewritten whole, so its transcript is sent whole each time it changes.
void TableScanner::scanChatDocument(Pass &pass, const ScanSource &source, const std::string &path,
                                    std::vector<ScannedFile> &out) const
{
    auto extracted = extractGeminiChatDocument(path, logTranscriptBound);
    if (!extracted || extracted->content.empty()) {
        m_tracker.commit(path);
        return;
    }
    m_tracker.stageFileState(path, extracted->messageCount, extracted->nextOffset);
    deliver(pass,
         ScannedFile{path, std::move(extracted->content), apply(source.hint, path), apply(source.tag, path),
                     extracted->messageCount},
         false, out);
}

void TableScanner::scanCopilotLog(Pass &pass, const ScanSource &source, const std::string &path,
                                  std::vector<ScannedFile> &out) const
{
    auto transcript = extractCopilotJSONL(path);
    if (!transcript) {
        m_tracker.commit(path);
        return;
    }
    deliver(pass, ScannedFile{path, std::move(*transcript), apply(source.hint, path), apply(source.tag, path), 1}, false,
         out);
}

} // namespace quorral::scan
