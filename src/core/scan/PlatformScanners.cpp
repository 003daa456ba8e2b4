#include "scan/PlatformScanners.h"

#include <algorithm>

namespace quorral::scan {
namespace {

using Kind = ScanSource::Kind;
using Persist = ScannerSpec::Persist;

bool contains(std::string_view haystack, std::string_view needle)
{
    return haystack.find(needle) != std::string_view::npos;
}

bool fileNameStartsWith(std::string_view path, std::string_view prefix)
{
    const auto slash = path.rfind('/');
    return path.substr(slash == std::string_view::npos ? 0 : slash + 1).starts_with(prefix);
}

// The name of the folder that holds the folder `name` in `path`.
std::optional<std::string> folderBefore(std::string_view path, std::string_view name)
{
    const std::string marker = "/" + std::string(name) + "/";
    const auto at = path.find(marker);
    if (at == std::string_view::npos || at == 0)
        return std::nullopt;
    const auto slash = path.rfind('/', at - 1);
    return std::string(path.substr(slash == std::string_view::npos ? 0 : slash + 1,
                                   at - (slash == std::string_view::npos ? 0 : slash + 1)));
}

ScanSource wholeFile(std::string path, std::optional<std::string> hint)
{
    ScanSource source;
    source.kind = Kind::wholeFile;
    source.path = std::move(path);
    source.hint = ScanSource::fixed(std::move(hint));
    return source;
}

ScanSource globbed(Kind kind, std::string folder, std::string suffix, std::optional<std::string> hint)
{
    ScanSource source;
    source.kind = kind;
    source.path = std::move(folder);
    source.suffix = std::move(suffix);
    source.hint = ScanSource::fixed(std::move(hint));
    return source;
}

ScanSource::PathRule projectTag()
{
    return [](const std::string &path) { return ClaudeCodeScanner::extractProjectTag(path); };
}

ScanSource::PathRule lastDashPiece(std::string_view folderAfter)
{
    return [folderAfter](const std::string &path) -> std::optional<std::string> {
        const auto name = folderBefore(path, folderAfter);
        if (!name)
            return std::nullopt;
        const auto dash = name->rfind('-');
        return dash == std::string::npos ? *name : name->substr(dash + 1);
    };
}

ScannerSpec claudeCode(const platform::ToolLocations &l)
{
    const std::string &root = l.claudeDir;
    const std::string projects = root + "/projects";
    ScanSource notes = globbed(Kind::globbedWholeFiles, projects, ".md", std::nullopt);
    notes.hint = [](const std::string &path) -> std::optional<std::string> {
        return contains(path, "/memory/") ? "knowledge" : "project";
    };
    notes.tag = projectTag();
    ScanSource logs = globbed(Kind::conversationLogs, projects, ".jsonl", "knowledge");
    logs.tag = projectTag();
    logs.claimAllFirst = true;
    return {"claude-code", "Claude Code", ScanTier::tier1, {root},
            {wholeFile(root + "/CLAUDE.md", "identity"), std::move(notes), std::move(logs)}, Persist::always};
}

ScannerSpec cursor(const platform::ToolLocations &l)
{
    const std::string &base = l.cursorUser;
    // The agent of today keeps its transcripts per project, below ~/.cursor/projects.
    ScanSource projectLogs = globbed(Kind::conversationLogs, l.cursorProjects, ".jsonl", "knowledge");
    projectLogs.accept = [](const std::string &path) { return contains(path, "/agent-transcripts/"); };
    projectLogs.tag = lastDashPiece("agent-transcripts");
    return {"cursor", "Cursor", ScanTier::tier1, {base, l.cursorProjects},
            {wholeFile(base + "/globalStorage/cursor-rules.json", "workflow"),
             globbed(Kind::globbedWholeFiles, base + "/workspaceStorage", ".cursorrules", "project"),
             globbed(Kind::conversationLogs, base + "/globalStorage/anysphere.cursor-agent/agent-transcripts", ".jsonl",
                     "knowledge"),
             std::move(projectLogs)},
            Persist::always};
}

ScannerSpec openClaw(const platform::ToolLocations &l)
{
    const std::string root = l.home + "/.openclaw";
    const std::string workspace = root + "/workspace";
    std::vector<std::string> fixedFiles{workspace + "/MEMORY.md", workspace + "/IDENTITY.md", root + "/SOUL.md"};
    std::vector<ScanSource> sources;
    for (const auto &path : fixedFiles) {
        const bool identity = contains(path, "IDENTITY") || contains(path, "SOUL");
        sources.push_back(wholeFile(path, identity ? "identity" : "knowledge"));
    }
    ScanSource notes = globbed(Kind::globbedWholeFiles, workspace, ".md", "knowledge");
    notes.accept = [fixedFiles](const std::string &path) {
        return std::find(fixedFiles.begin(), fixedFiles.end(), path) == fixedFiles.end()
            && !contains(path, "/node_modules/");
    };
    sources.push_back(std::move(notes));
    return {"openclaw", "OpenClaw", ScanTier::tier1, {root}, std::move(sources), Persist::always};
}

ScannerSpec windsurf(const platform::ToolLocations &l)
{
    return {"windsurf", "Windsurf", ScanTier::tier1, {l.windsurfUser},
            {wholeFile(l.home + "/.windsurfrules", "workflow"),
             globbed(Kind::globbedWholeFiles, l.windsurfUser + "/globalStorage/cascade-memories", ".json", "knowledge")},
            Persist::always};
}

ScannerSpec chatGpt(const platform::ToolLocations &l)
{
    std::vector<std::string> presence;
    if (l.chatGptApp)
        presence.push_back(*l.chatGptApp);
    return {"chatgpt", "ChatGPT", ScanTier::tier1, std::move(presence), {}, Persist::never};
}

ScannerSpec gemini(const platform::ToolLocations &l)
{
    const std::string root = l.home + "/.gemini";
    // Chats live in ~/.gemini/tmp/<project>/chats/, one JSON document or JSON Lines log each.
    const auto isChat = [](const std::string &path) {
        return contains(path, "/chats/") && fileNameStartsWith(path, "session-");
    };
    ScanSource documents = globbed(Kind::chatDocuments, root + "/tmp", ".json", "knowledge");
    documents.accept = isChat;
    ScanSource logs = globbed(Kind::conversationLogs, root + "/tmp", ".jsonl", "knowledge");
    logs.accept = isChat;
    logs.format = LogFormat::geminiChat;
    return {"gemini", "Gemini CLI", ScanTier::tier2, {root},
            {wholeFile(root + "/GEMINI.md", "identity"), wholeFile(root + "/antigravity/settings.json", "environment"),
             std::move(documents), std::move(logs)},
            Persist::always};
}

ScannerSpec copilot(const platform::ToolLocations &l)
{
    const std::string &code = l.vscodeUser;
    ScanSource workspaceLogs = globbed(Kind::copilotLogs, code + "/workspaceStorage", ".jsonl", "knowledge");
    workspaceLogs.accept = [](const std::string &path) {
        return contains(path, "chatSessions") || contains(path, "ChatSessions");
    };
    return {"copilot", "GitHub Copilot", ScanTier::tier2,
            {l.home + "/.config/github-copilot", l.home + "/.copilot-instructions.md", code},
            {wholeFile(l.home + "/.copilot-instructions.md", "workflow"),
             wholeFile(l.home + "/.github/copilot-instructions.md", "workflow"),
             globbed(Kind::copilotLogs, code + "/globalStorage/emptyWindowChatSessions", ".jsonl", "knowledge"),
             std::move(workspaceLogs)},
            Persist::always};
}

ScannerSpec trae(const platform::ToolLocations &l)
{
    return {"trae", "Trae", ScanTier::tier2, {l.traeUser},
            {globbed(Kind::globbedWholeFiles, l.home + "/.trae/rules", ".md", "workflow")}, Persist::always};
}

ScannerSpec codex(const platform::ToolLocations &l)
{
    const std::string root = l.home + "/.codex";
    // Sessions are kept as ~/.codex/sessions/YYYY/MM/DD/rollout-*.jsonl.
    ScanSource sessions = globbed(Kind::conversationLogs, root + "/sessions", ".jsonl", "knowledge");
    sessions.accept = [](const std::string &path) { return fileNameStartsWith(path, "rollout-"); };
    sessions.format = LogFormat::codex;
    return {"codex", "Codex", ScanTier::tier2, {root},
            {wholeFile(root + "/instructions.md", "workflow"), wholeFile(root + "/AGENTS.md", "workflow"),
             std::move(sessions)},
            Persist::whenRecords};
}

ScannerSpec deepSeek(const platform::ToolLocations &l)
{
    const std::string root = l.home + "/.deepseek";
    return {"deepseek", "DeepSeek", ScanTier::tier2, {root}, {wholeFile(root + "/config.json", "environment")},
            Persist::whenRecords};
}

} // namespace

ClaudeCodeScanner::ClaudeCodeScanner(const platform::ToolLocations &l, ScanTracker &t) : TableScanner(claudeCode(l), l.home, t) {}
CursorScanner::CursorScanner(const platform::ToolLocations &l, ScanTracker &t) : TableScanner(cursor(l), l.home, t) {}
OpenClawScanner::OpenClawScanner(const platform::ToolLocations &l, ScanTracker &t) : TableScanner(openClaw(l), l.home, t) {}
WindsurfScanner::WindsurfScanner(const platform::ToolLocations &l, ScanTracker &t) : TableScanner(windsurf(l), l.home, t) {}
ChatGPTScanner::ChatGPTScanner(const platform::ToolLocations &l, ScanTracker &t) : TableScanner(chatGpt(l), l.home, t) {}
GeminiScanner::GeminiScanner(const platform::ToolLocations &l, ScanTracker &t) : TableScanner(gemini(l), l.home, t) {}
CopilotScanner::CopilotScanner(const platform::ToolLocations &l, ScanTracker &t) : TableScanner(copilot(l), l.home, t) {}
TraeScanner::TraeScanner(const platform::ToolLocations &l, ScanTracker &t) : TableScanner(trae(l), l.home, t) {}
CodexScanner::CodexScanner(const platform::ToolLocations &l, ScanTracker &t) : TableScanner(codex(l), l.home, t) {}
DeepSeekScanner::DeepSeekScanner(const platform::ToolLocations &l, ScanTracker &t) : TableScanner(deepSeek(l), l.home, t) {}

std::optional<std::string> ClaudeCodeScanner::extractProjectTag(std::string_view path)
{
    bool afterProjects = false;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        auto end = path.find('/', pos);
        if (end == std::string_view::npos)
            end = path.size();
        const auto component = path.substr(pos, end - pos);
        pos = end + 1;
        if (component.empty())
            continue; // "a//b" and a leading "/" have no empty components
        if (afterProjects) {
            const auto dash = component.rfind('-');
            return std::string(dash == std::string_view::npos ? component : component.substr(dash + 1));
        }
        afterProjects = component == "projects";
    }
    return std::nullopt;
}

std::unique_ptr<PlatformScanner> makeWatchedScanner(const std::string &id, const platform::ToolLocations &l, ScanTracker &t)
{
    if (id == "cursor")
        return std::make_unique<CursorScanner>(l, t);
    if (id == "windsurf")
        return std::make_unique<WindsurfScanner>(l, t);
    if (id == "openclaw")
        return std::make_unique<OpenClawScanner>(l, t);
    if (id == "gemini")
        return std::make_unique<GeminiScanner>(l, t);
    if (id == "copilot")
        return std::make_unique<CopilotScanner>(l, t);
    if (id == "codex")
        return std::make_unique<CodexScanner>(l, t);
    return std::make_unique<ClaudeCodeScanner>(l, t);
}

std::vector<std::unique_ptr<PlatformScanner>> makeAllScanners(const platform::ToolLocations &l, ScanTracker &t)
{
    std::vector<std::unique_ptr<PlatformScanner>> scanners;
    scanners.push_back(std::make_unique<ClaudeCodeScanner>(l, t));
    scanners.push_back(std::make_unique<CursorScanner>(l, t));
    scanners.push_back(std::make_unique<OpenClawScanner>(l, t));
    scanners.push_back(std::make_unique<WindsurfScanner>(l, t));
    scanners.push_back(std::make_unique<ChatGPTScanner>(l, t));
    scanners.push_back(std::make_unique<GeminiScanner>(l, t));
    scanners.push_back(std::make_unique<CopilotScanner>(l, t));
    scanners.push_back(std::make_unique<TraeScanner>(l, t));
    scanners.push_back(std::make_unique<CodexScanner>(l, t));
    scanners.push_back(std::make_unique<DeepSeekScanner>(l, t));
    std::stable_sort(scanners.begin(), scanners.end(),
                     [](const auto &a, const auto &b) { return a->tier() < b->tier(); });
    return scanners;
}

} // namespace quorral::scan
