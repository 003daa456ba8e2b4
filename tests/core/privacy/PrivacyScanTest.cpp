// The privacy rules as the scanners apply them: what they return is what would be uploaded.
#include "privacy/ExcludeRules.h"
#include "privacy/PrivacySettings.h"
#include "scan/PendingClaims.h"
#include "scan/PlatformScanners.h"
#include "scan/ProjectOptOut.h"
#include "settings/MemoryDefaultsStore.h"

#include "TempHome.h"

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quorral::scan;
using quorral::platform::ToolLocations;
using quorral::settings::MemoryDefaultsStore;
using quorral::test::TempHome;
using testing::HasSubstr;
using testing::Not;

namespace {

// Put together here so that no file of the repository holds a whole token.
std::string githubToken()
{
    return std::string("gh") + "p_" + std::string(12, 'a') + "B3cD4eF5gH6i" + std::string(12, 'Z');
}
std::string openaiStyleKey()
{
    return std::string("sk") + "-" + "0123456789abcdef" + "fedcba9876543210";
}

std::string chatLine(const std::string &type, const std::string &text, const std::string &cwd)
{
    return nlohmann::json{{"type", type}, {"cwd", cwd}, {"message", {{"role", type}, {"content", text}}}}.dump() + "\n";
}

std::string claudeLog(const std::string &cwd, const std::string &secretLine)
{
    return chatLine("user", "Please deploy the service; here is the setup:\n" + secretLine, cwd)
        + chatLine("assistant", "Deployed. I used the settings you gave me for the staging cluster.", cwd);
}

struct Fixture {
    TempHome home;
    MemoryDefaultsStore store;
    ScanTracker tracker{store};
    ToolLocations locations = ToolLocations::forLinux(home.path(), std::nullopt);

    std::vector<ScannedFile> scanWith(const PlatformScanner &scanner)
    {
        auto files = scanner.scan();
        PendingClaims(tracker, files).commitAll();
        return files;
    }
};

const ScannedFile *findPath(const std::vector<ScannedFile> &files, const std::string &path)
{
    for (const auto &file : files) {
        if (file.path == path)
            return &file;
    }
    return nullptr;
}

} // namespace

TEST(PrivacyScan, TranscriptsAndSettingsLeaveRedacted)
{
    Fixture f;
    const auto log = f.home.write(".claude/projects/-w-app/s1.jsonl",
                                  claudeLog("/w/app", "export GITHUB_TOKEN=" + githubToken() + "\nand the git hash "
                                                          "3f2a9c1e8b7d6f5a4c3b2a1908f7e6d5c4b3a291 stays"));
    ClaudeCodeScanner claude(f.locations, f.tracker);
    const auto files = f.scanWith(claude);
    const auto *transcript = findPath(files, log);
    ASSERT_NE(transcript, nullptr);
    EXPECT_THAT(transcript->content, HasSubstr("GITHUB_TOKEN=[redacted:github-token]"));
    EXPECT_THAT(transcript->content, HasSubstr("3f2a9c1e8b7d6f5a4c3b2a1908f7e6d5c4b3a291 stays"));
    EXPECT_THAT(transcript->content, Not(HasSubstr(githubToken())));
    EXPECT_EQ(transcript->redactedValues, 1);

    const auto config = f.home.write(".deepseek/config.json",
                                     nlohmann::json{{"api_key", openaiStyleKey()}, {"model", "deepseek-chat"}}.dump(2));
    DeepSeekScanner deepSeek(f.locations, f.tracker);
    const auto settings = f.scanWith(deepSeek);
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[0].path, config);
    EXPECT_EQ(nlohmann::json::parse(settings[0].content),
              (nlohmann::json{{"api_key", "[redacted:openai-key]"}, {"model", "deepseek-chat"}}));
    EXPECT_EQ(settings[0].redactedValues, 1);

    f.home.write(".gemini/antigravity/settings.json",
                 nlohmann::json{{"mcpServers", {{"gh", {{"env", {{"GITHUB_TOKEN", githubToken()}}}}}}}}.dump(2));
    GeminiScanner gemini(f.locations, f.tracker);
    const auto geminiFiles = f.scanWith(gemini);
    ASSERT_EQ(geminiFiles.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(geminiFiles[0].content)["mcpServers"]["gh"]["env"]["GITHUB_TOKEN"],
              "[redacted:github-token]");
}

TEST(PrivacyScan, TheUserCanTurnRedactionOff)
{
    Fixture f;
    quorral::privacy::setRedactionEnabled(f.store, false);
    const auto config = f.home.write(".deepseek/config.json", "{\"api_key\": \"" + openaiStyleKey() + "\"}");
    DeepSeekScanner deepSeek(f.locations, f.tracker);
    const auto files = f.scanWith(deepSeek);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].content, "{\"api_key\": \"" + openaiStyleKey() + "\"}");
    EXPECT_EQ(files[0].redactedValues, 0);

    // Read at every scan: turned on again, the next scan redacts.
    quorral::privacy::setRedactionEnabled(f.store, true);
    f.tracker.resetAll();
    const auto again = f.scanWith(deepSeek);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_THAT(again[0].content, HasSubstr("[redacted:openai-key]"));
}

TEST(PrivacyScan, ExcludedFilesAreNeitherReadNorClaimed)
{
    Fixture f;
    const auto kept = f.home.write(".claude/projects/-w-site/s1.jsonl", claudeLog("/w/site", "nothing secret here"));
    const auto work = f.home.write(".claude/projects/-w-work/s2.jsonl", claudeLog("/w/work", "client details"));
    const auto notes = f.home.write(".claude/projects/-w-work/memory/n.md", "work notes");
    f.home.write(".quorral/exclude", "# client work stays here\n~/.claude/projects/-w-work\n");

    ClaudeCodeScanner claude(f.locations, f.tracker);
    auto files = f.scanWith(claude);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].path, kept);
    EXPECT_EQ(f.tracker.takeExcludedCounts()["claude-code"], 2);
    EXPECT_FALSE(f.tracker.isInFlight(work));

    // Nothing was recorded for them: once the rule goes they are new.
    f.home.write(".quorral/exclude", "");
    files = f.scanWith(claude);
    std::vector<std::string> paths;
    for (const auto &file : files)
        paths.push_back(file.path);
    EXPECT_THAT(paths, testing::UnorderedElementsAre(work, notes));
    EXPECT_TRUE(f.tracker.takeExcludedCounts().empty());
}

TEST(PrivacyScan, AToolRuleKeepsOutEveryFileOfTheTool)
{
    Fixture f;
    f.home.write(".deepseek/config.json", "{\"model\": \"deepseek-chat\"}");
    f.home.write(".codex/AGENTS.md", "Be brief.");
    f.home.write(".quorral/exclude", "tool:deepseek\n");
    DeepSeekScanner deepSeek(f.locations, f.tracker);
    CodexScanner codex(f.locations, f.tracker);
    EXPECT_TRUE(f.scanWith(deepSeek).empty());
    EXPECT_EQ(f.scanWith(codex).size(), 1u);
    const auto counts = f.tracker.takeExcludedCounts();
    EXPECT_EQ(counts.at("deepseek"), 1);
    EXPECT_FALSE(counts.contains("codex"));
    EXPECT_TRUE(f.tracker.claimIfNeeded(f.home / ".deepseek/config.json"));
}

TEST(PrivacyScan, AProjectOptsOutWithAnIgnoreFile)
{
    Fixture f;
    const std::string project = f.home.mkdir("code/secret-project");
    const std::string other = f.home.mkdir("code/open-project");
    const auto hidden = f.home.write(".claude/projects/-code-secret-project/s1.jsonl", claudeLog(project, "plans"));
    const auto hiddenToo = f.home.write(".claude/projects/-code-secret-project/s2.jsonl", claudeLog(project, "more"));
    const auto shown = f.home.write(".claude/projects/-code-open-project/s3.jsonl", claudeLog(other, "readme"));
    const auto rollout = f.home.write(
        ".codex/sessions/2026/01/02/rollout-1.jsonl",
        nlohmann::json{{"type", "session_meta"}, {"payload", {{"id", "s"}, {"cwd", project}}}}.dump() + "\n"
            + nlohmann::json{{"type", "response_item"},
                             {"payload",
                              {{"type", "message"},
                               {"role", "user"},
                               {"content", {{{"type", "input_text"}, {"text", "the secret project's plan, at length"}}}}}}}
                  .dump()
            + "\n");
    f.home.write("code/secret-project/.quorral-ignore", "");

    EXPECT_EQ(sessionWorkingDirectory(hidden), project);
    ClaudeCodeScanner claude(f.locations, f.tracker);
    const auto files = f.scanWith(claude);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].path, shown);
    CodexScanner codex(f.locations, f.tracker);
    EXPECT_TRUE(f.scanWith(codex).empty());
    const auto counts = f.tracker.takeExcludedCounts();
    EXPECT_EQ(counts.at("claude-code"), 2);
    EXPECT_EQ(counts.at("codex"), 1);

    // The opt-out is looked at again in the next scan: without the file the logs go.
    std::filesystem::remove(project + "/.quorral-ignore");
    std::vector<std::string> paths;
    for (const auto &file : f.scanWith(claude))
        paths.push_back(file.path);
    EXPECT_THAT(paths, testing::UnorderedElementsAre(hidden, hiddenToo));
    EXPECT_EQ(f.scanWith(codex).size(), 1u);
    EXPECT_EQ(files[0].path, shown);
    (void)rollout;
}

TEST(PrivacyScan, CopilotLogsFindTheirProjectThroughTheWorkspace)
{
    TempHome home;
    const std::string project = home.mkdir("my project");
    home.write(".config/Code/User/workspaceStorage/abc/workspace.json",
               "{\"folder\": \"file://" + home.path() + "/my%20project\"}");
    const auto log = home.write(".config/Code/User/workspaceStorage/abc/chatSessions/s.jsonl", "{}\n");
    ProjectOptOut optOut;
    EXPECT_FALSE(optOut.excludes(log));
    home.write("my project/.quorral-ignore", "");
    EXPECT_FALSE(optOut.excludes(log)); // one look per directory and pass
    EXPECT_TRUE(ProjectOptOut().excludes(log));
}

TEST(PrivacyScan, CursorTranscriptsFindTheirProjectThroughTheFolderName)
{
    TempHome home;
    const std::string project = home.mkdir("code/my-app.v2");
    home.mkdir("code/my");
    std::string slug = project.substr(1);
    for (auto &c : slug) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '-';
    }
    const auto log = home.write(".cursor/projects/" + slug + "/agent-transcripts/t.jsonl", "{}\n");
    EXPECT_EQ(sessionWorkingDirectory(log), project);
    EXPECT_FALSE(ProjectOptOut().excludes(log));
    home.write("code/my-app.v2/.quorral-ignore", "");
    EXPECT_TRUE(ProjectOptOut().excludes(log));
    EXPECT_EQ(sessionWorkingDirectory(home.write(".cursor/projects/no-such-folder-here/agent-transcripts/t.jsonl", "{}\n")),
              std::nullopt);
}
