#include "scan/PlatformScanners.h"

#include "LogGenerator.h"
#include "TempHome.h"
#include "scan/PendingClaims.h"
#include "settings/MemoryDefaultsStore.h"

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace quorral::scan;
using quorral::platform::ToolLocations;
using quorral::settings::MemoryDefaultsStore;
using quorral::test::setModificationTime;
using quorral::test::TempHome;
using testing::ElementsAre;

namespace {

std::string userLine(const std::string &text)
{
    return nlohmann::json{{"type", "user"}, {"message", {{"content", text}}}}.dump() + "\n";
}

std::string conversation(int from, int to)
{
    std::string log;
    for (int i = from; i < to; ++i)
        log += userLine("question number " + std::to_string(i) + " about the build");
    return log;
}

void append(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::app | std::ios::binary) << text;
}

std::vector<std::string> pathsOf(const std::vector<ScannedFile> &files)
{
    std::vector<std::string> paths;
    for (const auto &f : files)
        paths.push_back(f.path);
    return paths;
}

struct Fixture {
    TempHome home;
    MemoryDefaultsStore store;
    ScanTracker tracker{store};
    ToolLocations locations = ToolLocations::forLinux(home.path(), std::nullopt);

    // A scan whose records were all stored.
    std::vector<ScannedFile> scanAndCommit(const PlatformScanner &scanner)
    {
        auto files = scanner.scan();
        PendingClaims(tracker, files).commitAll();
        return files;
    }
};

} // namespace

TEST(PlatformScanners, TenScannersInTierOrder)
{
    Fixture f;
    std::vector<std::string> ids;
    std::vector<std::string> names;
    for (const auto &scanner : makeAllScanners(f.locations, f.tracker)) {
        ids.push_back(scanner->id());
        names.push_back(scanner->name());
    }
    EXPECT_THAT(ids, ElementsAre("claude-code", "cursor", "openclaw", "windsurf", "chatgpt", "gemini", "copilot", "trae",
                                 "codex", "deepseek"));
    EXPECT_THAT(names, ElementsAre("Claude Code", "Cursor", "OpenClaw", "Windsurf", "ChatGPT", "Gemini CLI",
                                   "GitHub Copilot", "Trae", "Codex", "DeepSeek"));
}

TEST(PlatformScanners, ProjectTagIsTheLastDashPieceOfTheProjectFolder)
{
    struct Case {
        const char *path;
        std::optional<std::string> tag;
    } cases[] = {
        {"/home/a/.claude/projects/-Users-ann-code-my-app/x.jsonl", "app"},
        {"/home/a/.claude/projects/-Users-ann-code-my-app/memory/n.md", "app"},
        {"/home/a/.claude/projects/plain/x.md", "plain"},
        {"/home/a/.claude/projects/ends-with-/x.md", ""},
        {"/home/a/.claude/projects", std::nullopt},
        {"/home/a/.claude/projects/", std::nullopt},
        {"/home/a/.claude/other/x.md", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ClaudeCodeScanner::extractProjectTag(c.path), c.tag) << c.path;
}

TEST(PlatformScanners, ClaudeCodeWithoutProjectsGivesAtMostItsIdentityFile)
{
    Fixture f;
    ClaudeCodeScanner scanner(f.locations, f.tracker);
    EXPECT_FALSE(scanner.detect());
    f.home.mkdir(".claude");
    EXPECT_TRUE(scanner.detect());
    EXPECT_TRUE(scanner.scan().empty());
    f.home.write(".claude/CLAUDE.md", "I like short answers.");
    const auto files = ClaudeCodeScanner(f.locations, f.tracker).scan();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], (ScannedFile{f.home / ".claude/CLAUDE.md", "I like short answers.", "identity", std::nullopt, 1}));
}

TEST(PlatformScanners, ClaudeCodeNotesAndLogsCarryHintsAndTags)
{
    Fixture f;
    const auto notes = f.home.write(".claude/projects/-Users-ann-code-my-app/notes.md", "project notes");
    const auto memory = f.home.write(".claude/projects/-Users-ann-code-my-app/memory/facts.md", "remembered");
    const auto log = f.home.write(".claude/projects/-Users-ann-code-my-app/s1.jsonl", conversation(0, 10));
    const auto files = ClaudeCodeScanner(f.locations, f.tracker).scan();
    ASSERT_EQ(files.size(), 3u);
    std::map<std::string, ScannedFile> byPath;
    for (const auto &file : files)
        byPath[file.path] = file;
    EXPECT_EQ(byPath[notes].memoryTypeHint, "project");
    EXPECT_EQ(byPath[notes].contextTag, "app");
    EXPECT_EQ(byPath[memory].memoryTypeHint, "knowledge");
    EXPECT_EQ(byPath[memory].contextTag, "app");
    EXPECT_EQ(byPath[log].memoryTypeHint, "knowledge");
    EXPECT_EQ(byPath[log].messageCount, 10);
    EXPECT_EQ(files.back().path, log); // notes before logs
    EXPECT_EQ(f.tracker.lastMessageCount(log), 0) << "not recorded before its upload is settled";
    PendingClaims(f.tracker, files).commitAll();
    EXPECT_EQ(f.tracker.lastMessageCount(log), 10);
}

TEST(PlatformScanners, LogsAreReportedAgainOnlyWithTheirNewMessages)
{
    Fixture f;
    const auto log = f.home.write(".claude/projects/-p-app/s.jsonl", conversation(0, 10));
    setModificationTime(log, 2000);
    ClaudeCodeScanner scanner(f.locations, f.tracker);
    ASSERT_EQ(f.scanAndCommit(scanner).size(), 1u);
    EXPECT_TRUE(scanner.scan().empty()) << "nothing changed";

    // Every appended line is reported, the first one too.
    append(log, conversation(10, 15));
    setModificationTime(log, 2001);
    auto files = f.scanAndCommit(scanner);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].messageCount, 5);
    EXPECT_THAT(files[0].content, testing::StartsWith("User: question number 10 "));
    EXPECT_EQ(f.tracker.lastMessageCount(log), 15);
    EXPECT_EQ(f.tracker.lastFileSize(log), std::filesystem::file_size(log));

    // One appended line alone is reported.
    append(log, userLine("a single appended question line"));
    setModificationTime(log, 2002);
    files = scanner.scan();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].content, "User: a single appended question line\n\n");

    // Its upload failed: released, the same line is read again by the next scan.
    PendingClaims(f.tracker, files).settle({false});
    EXPECT_EQ(f.tracker.lastMessageCount(log), 15);
    EXPECT_EQ(f.scanAndCommit(scanner), files);
    EXPECT_EQ(f.tracker.lastMessageCount(log), 16);
    EXPECT_EQ(f.tracker.lastFileSize(log), std::filesystem::file_size(log));

    // Claims not settled at all (a sync that ended early) are released too.
    append(log, userLine("another question"));
    setModificationTime(log, 2003);
    {
        const PendingClaims dropped(f.tracker, scanner.scan());
    }
    EXPECT_EQ(f.scanAndCommit(scanner).size(), 1u);
}

TEST(PlatformScanners, CursorReadsRulesWorkspaceRulesAndAgentTranscripts)
{
    Fixture f;
    const std::string base = f.locations.cursorUser;
    f.home.write(".config/Cursor/User/globalStorage/cursor-rules.json", "{\"rules\":[]}");
    f.home.write(".config/Cursor/User/workspaceStorage/abc/.cursorrules", "Use tabs.");
    f.home.write(".config/Cursor/User/globalStorage/anysphere.cursor-agent/agent-transcripts/t.jsonl", conversation(0, 6));
    CursorScanner scanner(f.locations, f.tracker);
    ASSERT_TRUE(scanner.detect());
    const auto files = scanner.scan();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].memoryTypeHint, "workflow");
    EXPECT_EQ(files[1].memoryTypeHint, "project");
    EXPECT_EQ(files[2].messageCount, 6);
    EXPECT_EQ(files[2].contextTag, std::nullopt);
}

TEST(PlatformScanners, OpenClawMarksIdentityAndSkipsNodeModules)
{
    Fixture f;
    f.home.write(".openclaw/SOUL.md", "kind and brief");
    f.home.write(".openclaw/workspace/IDENTITY.md", "I am a helper");
    f.home.write(".openclaw/workspace/MEMORY.md", "remember this");
    f.home.write(".openclaw/workspace/notes/a.md", "a note");
    f.home.write(".openclaw/workspace/node_modules/x/README.md", "package readme");
    const auto files = OpenClawScanner(f.locations, f.tracker).scan();
    EXPECT_THAT(pathsOf(files), ElementsAre(f.home / ".openclaw/workspace/MEMORY.md", f.home / ".openclaw/workspace/IDENTITY.md",
                                            f.home / ".openclaw/SOUL.md", f.home / ".openclaw/workspace/notes/a.md"));
    EXPECT_EQ(files[0].memoryTypeHint, "knowledge");
    EXPECT_EQ(files[1].memoryTypeHint, "identity");
    EXPECT_EQ(files[2].memoryTypeHint, "identity");
    EXPECT_EQ(files[3].memoryTypeHint, "knowledge");
}

TEST(PlatformScanners, ChatGptIsOnlyDetectedAndLinuxHasNoBuild)
{
    Fixture f;
    EXPECT_FALSE(ChatGPTScanner(f.locations, f.tracker).detect());
    auto withApp = f.locations;
    withApp.chatGptApp = f.home.mkdir("Applications/ChatGPT.app");
    ChatGPTScanner scanner(withApp, f.tracker);
    EXPECT_TRUE(scanner.detect());
    EXPECT_TRUE(scanner.scan().empty());
    EXPECT_FALSE(f.store.value(ScanTracker::mtimesKey)) << "ChatGPT never persists";
}

TEST(PlatformScanners, CopilotFindsChatSessionsOnly)
{
    Fixture f;
    CopilotScanner scanner(f.locations, f.tracker);
    EXPECT_FALSE(scanner.detect());
    f.home.mkdir(".config/Code/User");
    EXPECT_TRUE(scanner.detect()) << "the editor's User folder alone counts";

    const std::string session = nlohmann::json{{"kind", 0}, {"v", {{"requests", {{{"message", {{"text", "hello there"}}}}}}}}}.dump() + "\n";
    const auto kept = f.home.write(".config/Code/User/workspaceStorage/w1/chatSessions/a.jsonl", session);
    f.home.write(".config/Code/User/workspaceStorage/w1/other/b.jsonl", session);
    const auto empty = f.home.write(".config/Code/User/globalStorage/emptyWindowChatSessions/c.jsonl", session);
    f.home.write(".github/copilot-instructions.md", "Be brief.");
    const auto files = scanner.scan();
    EXPECT_THAT(pathsOf(files), ElementsAre(f.home / ".github/copilot-instructions.md", empty, kept));
    EXPECT_EQ(files[2].content, "User: hello there\n\n");
    EXPECT_EQ(files[2].messageCount, 1);
}

TEST(PlatformScanners, CodexAndDeepSeekPersistOnlyWhenTheyReportSomething)
{
    Fixture f;
    f.home.mkdir(".codex");
    CodexScanner codex(f.locations, f.tracker);
    EXPECT_TRUE(codex.scan().empty());
    EXPECT_FALSE(f.store.value(ScanTracker::mtimesKey));
    f.home.write(".deepseek/config.json", "{}");
    EXPECT_EQ(DeepSeekScanner(f.locations, f.tracker).scan().size(), 1u);
    EXPECT_TRUE(f.store.value(ScanTracker::mtimesKey));
}

TEST(PlatformScanners, BadFilesAreSkippedAndTheScanGoesOn)
{
    Fixture f;
    f.home.mkdir(".claude");
    ASSERT_EQ(::mkfifo((f.home / ".claude/CLAUDE.md").c_str(), 0600), 0); // must not block the scan
    const std::string project = ".claude/projects/-p-app/";
    std::string binary(8192, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 7919) & 0xFF);
    f.home.write(project + "binary.jsonl", binary);
    f.home.mkdir(project + "folder.jsonl");
    f.home.write(project + "latin1.md", "caf\xE9 au lait");
    std::filesystem::create_symlink(f.home / "nowhere.jsonl", f.home / (project + "dangling.jsonl"));
    std::filesystem::create_directory_symlink(f.home / ".claude/projects", f.home / (project + "loop"));
    const auto good = f.home.write(project + "good.jsonl", conversation(0, 8));
    if (::geteuid() != 0) {
        const auto locked = f.home.write(project + "locked.jsonl", conversation(0, 8));
        ::chmod(locked.c_str(), 0);
    }
    // A sparse 9 MiB "notes" file is not read at all, and said once.
    const auto huge = f.home.write(project + "huge.md", "");
    std::filesystem::resize_file(huge, 9u << 20);
    const auto files = ClaudeCodeScanner(f.locations, f.tracker).scan();
    EXPECT_THAT(pathsOf(files), ElementsAre(good));
    const auto skipped = f.tracker.takeSkipped();
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].path, huge);
    EXPECT_THAT(skipped[0].reason, testing::HasSubstr("larger than 8 MiB"));
    EXPECT_TRUE(f.tracker.takeSkipped().empty());
}

TEST(PlatformScanners, EveryToolIsFoundInAGeneratedHome)
{
    Fixture f;
    quorral::loggen::HomeSpec spec;
    spec.claudeBytes = 4u << 20;
    spec.largeSessionShare = 0;
    const auto summary = quorral::loggen::LogGenerator(3).populateHome(f.home.path(), spec);
    for (const auto &scanner : makeAllScanners(f.locations, f.tracker)) {
        if (scanner->id() == "chatgpt") {
            EXPECT_FALSE(scanner->detect());
            continue;
        }
        EXPECT_TRUE(scanner->detect()) << scanner->id();
        const auto files = scanner->scan();
        EXPECT_FALSE(files.empty()) << scanner->id();
        if (scanner->id() == "claude-code") {
            // CLAUDE.md and the memory notes besides every session.
            EXPECT_GE(files.size(), static_cast<std::size_t>(summary.claudeSessions) + 1);
        }
        EXPECT_TRUE(scanner->scan().empty()) << scanner->id() << ": a second scan finds nothing new";
    }
}
