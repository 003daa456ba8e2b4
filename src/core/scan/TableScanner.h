#pragma once

#include "scan/PlatformScanner.h"
#include "scan/ScanTracker.h"
#include "scan/TranscriptExtraction.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorral::scan {

// One place a tool keeps files worth uploading, as a row of its scanner's table.
struct ScanSource {
    enum class Kind {
        wholeFile,         // `path` is one file, uploaded whole
        globbedWholeFiles, // every entry below the folder `path` ending in `suffix`, each whole
        conversationLogs,  // JSON Lines logs below `path`, read from the recorded offset
        copilotLogs,       // Copilot chat-session logs below `path`, always read whole
        chatDocuments,     // chats kept as one JSON document below `path`, sent whole when changed
    };
    using PathRule = std::function<std::optional<std::string>(const std::string &path)>;

    Kind kind = Kind::wholeFile;
    std::string path;
    std::string suffix;
    PathRule hint;
    PathRule tag;
    // For globbed kinds: which of the listed paths to keep (all when empty).
    std::function<bool(const std::string &path)> accept;
    // For conversation logs: claim every log before reading any (Claude Code's order).
    bool claimAllFirst = false;
    // For conversation logs: how the tool writes its messages.
    LogFormat format = LogFormat::chat;

    static PathRule fixed(std::optional<std::string> value)
    {
        return [value = std::move(value)](const std::string &) { return value; };
    }
};

struct ScannerSpec {
    enum class Persist { always, whenRecords, never };

    std::string id;
    std::string name;
    ScanTier tier = ScanTier::tier1;
    // The tool counts as present when any of these exists.
    std::vector<std::string> presencePaths;
    std::vector<ScanSource> sources;
    Persist persist = Persist::always;
};

// A scanner driven entirely by its table row: the shape every tool scanner shares.
class TableScanner : public PlatformScanner {
public:
    // `home` is where the user's exclude rules are read from, at the start of every scan.
    TableScanner(ScannerSpec spec, std::string home, ScanTracker &tracker);

    const std::string &id() const override { return m_spec.id; }
    const std::string &name() const override { return m_spec.name; }
    ScanTier tier() const override { return m_spec.tier; }

    bool detect() const override;
    std::vector<ScannedFile> scan() const override;

    const ScannerSpec &spec() const { return m_spec; }

private:
    // What one scan reads once: the exclude rules, the project opt-outs seen so far, the redaction choice.
    struct Pass;

    void scanWholeFile(Pass &pass, const ScanSource &source, const std::string &path,
                       std::vector<ScannedFile> &out) const;
    void scanConversationLogs(Pass &pass, const ScanSource &source, const std::vector<std::string> &claimed,
                              std::vector<ScannedFile> &out) const;
    void scanCopilotLog(Pass &pass, const ScanSource &source, const std::string &path,
                        std::vector<ScannedFile> &out) const;
    void scanChatDocument(Pass &pass, const ScanSource &source, const std::string &path,
                          std::vector<ScannedFile> &out) const;
    std::vector<std::string> listed(const ScanSource &source) const;
    // The listed files the exclude rules leave in; the others are counted as excluded.
    std::vector<std::string> listedAndIncluded(Pass &pass, const ScanSource &source) const;
    bool excludedByRule(Pass &pass, const std::string &path) const;
    // A claim on a conversation log, given up again when its project opted out.
    bool claimLog(Pass &pass, const std::string &path) const;
    std::size_t countCandidates() const;
    void deliver(Pass &pass, ScannedFile file, bool jsonDocument, std::vector<ScannedFile> &out) const;

    ScannerSpec m_spec;
    std::string m_home;
    ScanTracker &m_tracker;
};

} // namespace quorral::scan
