// The shapes real tools write their logs in, each as a small log whose message used to
// be lost, then the shared fixtures of those tools through the scanners.

#include "scan/PendingClaims.h"
#include "scan/PlatformScanners.h"
#include "scan/TranscriptExtraction.h"

#include "TempHome.h"
#include "io/ReadFile.h"
#include "settings/MemoryDefaultsStore.h"
#include "text/Unicode.h"

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

using namespace quorral::scan;
using nlohmann::json;
using quorral::platform::ToolLocations;
using quorral::settings::MemoryDefaultsStore;
using quorral::test::TempHome;
using testing::HasSubstr;
using testing::Not;

namespace fs = std::filesystem;

namespace {

std::string lines(std::initializer_list<json> records)
{
    std::string text;
    for (const auto &record : records)
        text += record.dump() + "\n";
    return text;
}

// Logs under 201 bytes are too small to hold a conversation: pad with a record no
// format reads.
std::string padded(std::string log)
{
    if (log.size() < 400)
        log = json{{"kind", "padding"}, {"note", std::string(400, '.')}}.dump() + "\n" + log;
    return log;
}

std::string cursorLine(const char *role, const std::string &text)
{
    return json{{"role", role}, {"message", {{"content", json::array({{{"type", "text"}, {"text", text}}})}}}}.dump() + "\n";
}

} // namespace

TEST(RealLogShapes, EachMendedShapeKeepsTheMessageThatWasLost)
{
    struct Case {
        const char *what;
        LogFormat format;
        std::string log;
        std::string kept;    // a transcript line that must be there
        std::string dropped; // text that must not be (empty: no such check)
    };
    const Case cases[] = {
        {"Cursor agent transcript: the role in \"role\", the request in <user_query>", LogFormat::chat,
         cursorLine("user", "<user_query>\nrun the failing command again please\n</user_query>")
             + cursorLine("assistant", "Running the failing command again now."),
         "User: run the failing command again please\n\nAssistant: Running the failing command again now.\n\n",
         "<user_query>"},
        {"a \"type\" that is there still decides over \"role\"", LogFormat::chat,
         lines({{{"type", "summary"}, {"role", "user"}, {"message", {{"content", "a summary that is no message"}}}},
                {{"type", "user"}, {"role", "assistant"}, {"message", {{"content", "the question the user asked"}}}}}),
         "User: the question the user asked\n\n", "a summary that is no message"},
        {"Codex rollout: response items in payloads, injected context left out", LogFormat::codex,
         lines({{{"type", "session_meta"}, {"payload", {{"id", "s"}, {"cwd", "/w"}}}},
                {{"type", "response_item"},
                 {"payload", {{"type", "message"}, {"role", "user"},
                              {"content", json::array({{{"type", "input_text"}, {"text", "<environment_context>\n  <cwd>/w</cwd>\n</environment_context>"}}})}}}},
                {{"type", "response_item"},
                 {"payload", {{"type", "message"}, {"role", "user"},
                              {"content", json::array({{{"type", "input_text"}, {"text", "# Context from my IDE setup:\n\n## My request for Codex:\nwhy does the linker fail?"}}})}}}},
                {{"type", "event_msg"}, {"payload", {{"type", "user_message"}, {"message", "why does the linker fail?"}}}},
                {{"type", "response_item"}, {"payload", {{"type", "reasoning"}, {"summary", json::array({{{"type", "summary_text"}, {"text", "private reasoning here"}}})}}}},
                {{"type", "response_item"}, {"payload", {{"type", "function_call"}, {"name", "shell"}, {"arguments", "{\"command\":[\"ls\"]}"}}}},
                {{"type", "response_item"},
                 {"payload", {{"type", "message"}, {"role", "assistant"},
                              {"content", json::array({{{"type", "output_text"}, {"text", "The linker misses libm; add -lm."}}})}}}}}),
         "User: why does the linker fail?\n\nAssistant: The linker misses libm; add -lm.\n\n", "environment_context"},
        {"Codex rollout in the older form: bare items after an {id, timestamp} header", LogFormat::codex,
         lines({{{"id", "44"}, {"timestamp", "2026-01-04T05:06:07.000Z"}},
                {{"type", "message"}, {"role", "user"}, {"content", json::array({{{"type", "input_text"}, {"text", "Open the legacy session."}}})}},
                {{"type", "message"}, {"role", "assistant"}, {"content", json::array({{{"type", "output_text"}, {"text", "The legacy session is open."}}})}}}),
         "User: Open the legacy session.\n\nAssistant: The legacy session is open.\n\n", ""},
        {"Codex rollout holding only message events", LogFormat::codex,
         lines({{{"type", "event_msg"}, {"payload", {{"type", "user_message"}, {"message", "Safe line before malformed input."}}}}})
             + "{synthetic malformed json\n",
         "User: Safe line before malformed input.\n\n", ""},
        {"Gemini CLI chat: a message written again under its id replaces the first copy", LogFormat::geminiChat,
         lines({{{"sessionId", "g"}, {"kind", "main"}},
                {{"id", "u1"}, {"type", "user"}, {"content", json::array({{{"text", "explain the release script"}}})}},
                {{"$set", {{"lastUpdated", "x"}}}},
                {{"id", "a1"}, {"type", "gemini"}, {"content", "It tags the commit and uploads."}},
                {{"id", "a1"}, {"type", "gemini"}, {"content", "It tags the commit and uploads."}, {"toolCalls", json::array()}},
                {{"id", "i1"}, {"type", "info"}, {"content", "Request cancelled."}}}),
         "User: explain the release script\n\nAssistant: It tags the commit and uploads.\n\n", "Request cancelled"},
    };
    TempHome home;
    int n = 0;
    for (const auto &c : cases) {
        const auto path = home.write("log" + std::to_string(n++) + ".jsonl", padded(c.log));
        const auto extracted = extractConversationFromJSONL(path, 0, 150000, c.format);
        ASSERT_TRUE(extracted) << c.what;
        EXPECT_THAT(extracted->content, HasSubstr(c.kept)) << c.what;
        if (!c.dropped.empty()) {
            EXPECT_THAT(extracted->content, Not(HasSubstr(c.dropped))) << c.what;
        }
    }
}

TEST(RealLogShapes, GeminiDuplicatesAreCountedOnce)
{
    TempHome home;
    const auto log = padded(lines({{{"id", "a"}, {"type", "user"}, {"content", "first question asked"}},
                                   {{"id", "a"}, {"type", "user"}, {"content", "first question asked"}},
                                   {{"id", "b"}, {"type", "gemini"}, {"content", "the one answer given"}}}));
    const auto extracted = extractConversationFromJSONL(home.write("s.jsonl", log), 0, 150000, LogFormat::geminiChat);
    ASSERT_TRUE(extracted);
    EXPECT_EQ(extracted->messageCount, 2);
    EXPECT_EQ(extracted->content, "User: first question asked\n\nAssistant: the one answer given\n\n");
}

TEST(RealLogShapes, CopilotPatchesAreAppliedBeforeReading)
{
    TempHome home;
    const json firstRequest = {{"message", {{"text", "How do I rename a branch?"}}},
                               {"response", json::array({{{"value", "Use git branch -m."}}})}};
    const json laterRequest = {{"message", {{"text", "And push it?"}}}, {"response", json::array()}};
    const std::string log = lines({
        {{"kind", 0}, {"v", {{"version", 3}, {"requests", json::array()}}}},
        // The requests arrive later, appended to the snapshot's empty list.
        {{"kind", 2}, {"k", {"requests"}}, {"v", json::array({firstRequest})}},
        {{"kind", 2}, {"k", {"requests"}}, {"v", json::array({laterRequest})}},
        // The response is filled in by setting it, then appending to it.
        {{"kind", 1}, {"k", {"requests", 1, "response"}}, {"v", json::array({{{"value", "Push with"}}})}},
        {{"kind", 2},
         {"k", {"requests", 1, "response"}},
         {"v", json::array({{{"kind", "inlineReference"}, {"inlineReference", {{"fsPath", "/repo/scripts/push.sh"}}}},
                            {{"value", "after the rename."}}})}},
        // Patches whose path does not exist, or lands on the wrong type, change nothing.
        {{"kind", 1}, {"k", {"requests", 7, "response"}}, {"v", "lost"}},
        {{"kind", 2}, {"k", {"requests", 0, "message"}}, {"v", json::array({1})}},
        {{"kind", 1}, {"k", "requests"}, {"v", json::array()}},
        {{"kind", 2}, {"k", json::array({json::object()})}, {"v", json::array()}},
    });
    const auto transcript = extractCopilotJSONL(home.write("chat.jsonl", log));
    ASSERT_TRUE(transcript);
    EXPECT_EQ(*transcript, "User: How do I rename a branch?\n\n"
                           "Assistant: Use git branch -m.\n\n"
                           "User: And push it?\n\n"
                           "Assistant: Push withpush.shafter the rename.\n\n");
}

TEST(RealLogShapes, CopilotSnapshotsReplaceAndDeletesRemove)
{
    TempHome home;
    const json one = {{"message", {{"text", "an old question"}}}};
    const json two = {{"message", {{"text", "the compacted question"}}}};
    const std::string log = lines({
        {{"kind", 0}, {"v", {{"requests", json::array({one})}}}},
        {{"kind", 0}, {"v", {{"requests", json::array({two})}, {"pending", 1}}}},
        {{"kind", 3}, {"k", {"pending"}}},
    });
    EXPECT_EQ(extractCopilotJSONL(home.write("chat.jsonl", log)), "User: the compacted question\n\n");
    EXPECT_FALSE(extractCopilotJSONL(home.write("removed.jsonl", lines({{{"kind", 0}, {"v", {{"requests", json::array({one})}}}},
                                                                         {{"kind", 3}, {"k", {"requests"}}}}))));
}

TEST(RealLogShapes, WholeGeminiDocumentIsReadWhole)
{
    TempHome home;
    const json chat = {{"sessionId", "s"},
                       {"messages", json::array({{{"type", "user"}, {"content", json::array({{{"text", "update the README files"}}})}},
                                                 {{"type", "gemini"}, {"content", ""}, {"thoughts", json::array()}},
                                                 {{"type", "gemini"}, {"content", "Done: the three READMEs now match."}},
                                                 {{"type", 7}, {"content", json::array({1, 2})}},
                                                 "not an object"})}};
    const auto extracted = extractGeminiChatDocument(home.write("session-1.json", chat.dump()), 150000);
    ASSERT_TRUE(extracted);
    EXPECT_EQ(extracted->content, "User: update the README files\n\nAssistant: Done: the three READMEs now match.\n\n");
    EXPECT_EQ(extracted->messageCount, 2);

    const auto cut = chat.dump();
    EXPECT_FALSE(extractGeminiChatDocument(home.write("cut.json", cut.substr(0, cut.size() / 2)), 150000));
    const auto empty = extractGeminiChatDocument(home.write("none.json", "{\"messages\":{}}"), 150000);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->content.empty());
}

TEST(RealLogShapes, WrongTypesAtEveryLevelNeverCrash)
{
    const std::string bad[] = {
        R"({"type":"response_item","payload":[]})",
        R"({"type":"response_item","payload":{"type":"message","role":7,"content":"x"}})",
        R"({"type":"response_item","payload":{"type":"message","role":"user","content":[1,"a",{"type":"input_text","text":9}]}})",
        R"({"type":"event_msg","payload":{"type":"user_message","message":{"a":1}}})",
        R"({"type":["user"],"role":"user","message":{"content":"x"}})",
        R"({"role":{"r":1},"message":{"content":[{"type":"text","text":["x"]}]}})",
        R"({"id":5,"type":"gemini","content":{"text":"x"}})",
        R"({"id":"a","type":"user","content":[{"text":{"t":1}}]})",
        R"({"kind":0,"v":{"requests":[{"message":"x","response":[{"value":{"content":[1]}},{"kind":"inlineReference","inlineReference":7}]}]}})",
        R"({"kind":1,"k":["requests",{"x":1}],"v":1})",
        R"({"kind":2,"k":[],"v":[1],"i":-1})",
        R"({"kind":2,"k":["requests",0,"response"],"v":{"kind":"inlineReference","inlineReference":{"uri":[]}}})",
        R"({"kind":3,"k":[0]})",
        R"({"type":"response_item","payload":{"type":"message","role":"user","content":[{"type":"input_text","text":"truncated)",
    };
    TempHome home;
    std::string log(300, ' ');
    log += "\n";
    for (const auto &line : bad)
        log += line + "\n";
    const auto path = home.write("bad.jsonl", log);
    for (auto format : {LogFormat::chat, LogFormat::codex, LogFormat::geminiChat}) {
        const auto extracted = extractConversationFromJSONL(path, 0, 150000, format);
        ASSERT_TRUE(extracted);
        EXPECT_EQ(extracted->content, "");
    }
    EXPECT_FALSE(extractCopilotJSONL(path));
    EXPECT_FALSE(extractGeminiChatDocument(path, 150000));
    // A binary file with the right name.
    std::string binary(8192, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 167) & 0xFF);
    const auto binaryPath = home.write("session-bin.json", binary);
    EXPECT_FALSE(extractGeminiChatDocument(binaryPath, 150000));
    EXPECT_FALSE(extractCopilotJSONL(binaryPath));
    EXPECT_FALSE(extractConversationFromJSONL(binaryPath, 0, 150000, LogFormat::codex));
}

TEST(RealLogShapes, HundredMegabyteLineInTheNewFormats)
{
    TempHome home;
    const std::string text(100u << 20, 'a');
    const auto codex = json{{"type", "response_item"},
                            {"payload", {{"type", "message"}, {"role", "user"},
                                         {"content", json::array({{{"type", "input_text"}, {"text", text}}})}}}}.dump() + "\n";
    const auto codexLog = extractConversationFromJSONL(home.write("rollout-big.jsonl", codex), 0, 150000, LogFormat::codex);
    ASSERT_TRUE(codexLog);
    // A log over 10 MiB is read from its last 2 MiB, which hold no line start.
    EXPECT_EQ(codexLog->content, "");
    const auto doc = json{{"messages", json::array({{{"type", "user"}, {"content", text}}})}}.dump();
    EXPECT_FALSE(extractGeminiChatDocument(home.write("session-big.json", doc), 150000)) << "over the document bound";
    const auto copilot = json{{"kind", 0}, {"v", {{"requests", json::array({{{"message", {{"text", text}}}}})}}}}.dump() + "\n";
    const auto transcript = extractCopilotJSONL(home.write("big.jsonl", copilot));
    ASSERT_TRUE(transcript);
    EXPECT_EQ(transcript->size(), std::string("User: ").size() + 5000 + std::string("…\n\n").size());
}

// ---- the shared fixtures through the scanners --------------------------------------

namespace {

struct ScanHome {
    TempHome home;
    MemoryDefaultsStore store;
    ScanTracker tracker{store};
    ToolLocations locations = ToolLocations::forLinux(home.path(), std::nullopt);

    std::string place(const std::string &fixture, const std::string &relative) const
    {
        const auto target = home / relative;
        fs::create_directories(fs::path(target).parent_path());
        fs::copy_file(quorral::test::fixturesDirectory() + "/" + fixture, target, fs::copy_options::overwrite_existing);
        return target;
    }

    std::vector<ScannedFile> scan(const PlatformScanner &scanner)
    {
        auto files = scanner.scan();
        PendingClaims(tracker, files).commitAll();
        return files;
    }
};

const ScannedFile *recordFor(const std::vector<ScannedFile> &files, const std::string &path)
{
    for (const auto &f : files)
        if (f.path == path)
            return &f;
    return nullptr;
}

} // namespace

TEST(RealLogShapes, CursorProjectTranscriptsAreScannedWithTheirProject)
{
    ScanHome h;
    const auto flat = h.place("cursor/agent-sessions__test-session.jsonl",
                              ".cursor/projects/home-ann-code-web-shop/agent-transcripts/one.jsonl");
    const auto nested = h.place("cursor/agent-sessions__cursor_schema_drift.jsonl",
                                ".cursor/projects/home-ann-code-api/agent-transcripts/two/two.jsonl");
    h.place("cursor/agent-sessions__test-session.jsonl", ".cursor/projects/home-ann-code-api/other/three.jsonl");
    CursorScanner scanner(h.locations, h.tracker);
    EXPECT_TRUE(scanner.detect()) << "the per-project folder alone counts as Cursor being there";
    const auto files = h.scan(scanner);
    ASSERT_EQ(files.size(), 2u);
    const auto *first = recordFor(files, flat);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->contextTag, "shop");
    EXPECT_THAT(first->content, HasSubstr("User: now show me the git status\n\n"));
    EXPECT_THAT(first->content, HasSubstr("Assistant: The repository is clean"));
    const auto *second = recordFor(files, nested);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->contextTag, "api");
    EXPECT_THAT(second->content, HasSubstr("User: Use the repo context and explain the latest build issue."));
    EXPECT_TRUE(h.scan(scanner).empty()) << "nothing changed";
}

TEST(RealLogShapes, CodexFixturesAreSyncedAsLogs)
{
    ScanHome h;
    const std::string day = ".codex/sessions/2025/11/17/";
    const auto current = h.place("codex/codex-session-view__rollout-2025-11-17T15-30-28-019a93b9-f380-7600-98ff-940e6b99603c.jsonl",
                                 day + "rollout-2025-11-17T15-30-28-019a93b9.jsonl");
    const auto ide = h.place("codex/VibeCodingTracker__test_conversation_codex.jsonl", day + "rollout-ide.jsonl");
    const auto legacy = h.place("codex/claude-code-log__rollout-44444444-4444-4444-8444-444444444444_legacy.jsonl",
                                day + "rollout-legacy.jsonl");
    const auto small = h.place("codex/agent-sessions__codex_small.jsonl", day + "rollout-small.jsonl");
    h.place("codex/agent-sessions__codex_small.jsonl", day + "not-a-rollout.jsonl");
    h.home.write(".codex/AGENTS.md", "Always run the linter.\n");
    CodexScanner scanner(h.locations, h.tracker);
    const auto files = h.scan(scanner);
    ASSERT_NE(recordFor(files, h.home / ".codex/AGENTS.md"), nullptr);
    EXPECT_EQ(recordFor(files, h.home / ".codex/AGENTS.md")->memoryTypeHint, "workflow");
    const auto *rollout = recordFor(files, current);
    ASSERT_TRUE(rollout);
    // This capture holds one request and the work on it, no written answer.
    EXPECT_THAT(rollout->content, testing::StartsWith("User: finish up the users work by rigging up the chatbot-ui"));
    EXPECT_EQ(rollout->messageCount, 1);
    EXPECT_THAT(rollout->content, Not(HasSubstr("Planning repository inspection"))) << "reasoning stays out";
    ASSERT_TRUE(recordFor(files, ide));
    EXPECT_THAT(recordFor(files, ide)->content, HasSubstr("User: 幫我檢查一下 go.mod"));
    EXPECT_THAT(recordFor(files, ide)->content, Not(HasSubstr("Context from my IDE setup")));
    EXPECT_THAT(recordFor(files, ide)->content, HasSubstr("\n\nAssistant: I’ll scan the repo for go.mod"));
    ASSERT_TRUE(recordFor(files, small));
    EXPECT_THAT(recordFor(files, small)->content, HasSubstr("User: List the files\n\nAssistant: Found 2 files.\n\n"));
    ASSERT_TRUE(recordFor(files, legacy));
    EXPECT_EQ(recordFor(files, legacy)->content,
              "User: Open the synthetic legacy session.\n\nAssistant: The synthetic legacy session is open.\n\n");
    EXPECT_EQ(recordFor(files, h.home / (day + "not-a-rollout.jsonl")), nullptr);
    EXPECT_TRUE(h.scan(scanner).empty()) << "nothing changed";
}

TEST(RealLogShapes, GeminiFixturesAreSyncedAndDocumentsSentWholeAgain)
{
    ScanHome h;
    const std::string chats = ".gemini/tmp/9da8b3dfb8655182ac1f0e66601c367e34f8d18447a29759eeba4d7e45dc60ea/chats/";
    const auto lines = h.place("gemini-cli/VibeCodingTracker__gemini.jsonl", chats + "session-2026-04-23T12-52-0ab8.jsonl");
    const auto document = h.place("gemini-cli/VibeCodingTracker__test_conversation_gemini.json",
                                  chats + "session-2026-03-27T10-19-b4de.json");
    GeminiScanner scanner(h.locations, h.tracker);
    const auto files = h.scan(scanner);
    ASSERT_EQ(files.size(), 2u);
    const auto *log = recordFor(files, lines);
    ASSERT_TRUE(log);
    EXPECT_THAT(log->content, HasSubstr("User: 幫我做一個小修改"));
    EXPECT_THAT(log->content, Not(HasSubstr("Request cancelled"))) << "info records are no messages";
    const auto *chat = recordFor(files, document);
    ASSERT_TRUE(chat);
    EXPECT_THAT(chat->content, HasSubstr("User: 請幫我依照專案實際狀況更新 README.md"));
    EXPECT_THAT(chat->content, HasSubstr("Assistant: 已經幫你整理好囉"));
    EXPECT_TRUE(h.scan(scanner).empty());

    // The document is rewritten with one more message: all of it is sent again.
    auto doc = json::parse(quorral::io::readWholeFile(document).value());
    doc["messages"].push_back({{"type", "user"}, {"content", "one more question about the README"}});
    h.home.write(chats + "session-2026-03-27T10-19-b4de.json", doc.dump());
    quorral::test::setModificationTime(document, 2e9);
    const auto again = h.scan(scanner);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_THAT(again[0].content, HasSubstr("User: 請幫我依照專案實際狀況更新 README.md"));
    EXPECT_TRUE(again[0].content.ends_with("User: one more question about the README\n\n"));
}

TEST(RealLogShapes, ClaudeConfigDirMovesClaudeCodesFolder)
{
    ScanHome h;
    h.locations = ToolLocations::forLinux(h.home.path(), std::nullopt, h.home / "elsewhere/claude");
    EXPECT_EQ(h.locations.claudeDir, h.home / "elsewhere/claude");
    const auto moved = h.place("claude-code/agent-sessions__claude_small.jsonl", "elsewhere/claude/projects/-w-app/s.jsonl");
    h.place("claude-code/agent-sessions__claude_small.jsonl", ".claude/projects/-w-app/s.jsonl");
    ClaudeCodeScanner scanner(h.locations, h.tracker);
    const auto files = h.scan(scanner);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].path, moved);
}

// Every reader takes every fixture, in its own format and in the others', from the start
// and from inside a line, and what it gives is whole UTF-8 text (cuts never split a
// character) with as many messages as it says.
TEST(RealLogShapes, EveryFixtureInEveryFormat)
{
    std::size_t transcripts = 0;
    for (const auto &entry : fs::recursive_directory_iterator(quorral::test::fixturesDirectory())) {
        if (!entry.is_regular_file())
            continue;
        const auto path = entry.path().string();
        for (auto format : {LogFormat::chat, LogFormat::codex, LogFormat::geminiChat})
            for (std::uint64_t offset : {std::uint64_t{0}, std::uint64_t{1}, static_cast<std::uint64_t>(entry.file_size() / 2)}) {
                const auto extracted = extractConversationFromJSONL(path, offset, 20000, format);
                if (!extracted)
                    continue;
                EXPECT_TRUE(quorral::text::isValidUtf8(extracted->content)) << path;
                EXPECT_LE(extracted->nextOffset, entry.file_size()) << path;
                if (extracted->messageCount == 0) {
                    EXPECT_TRUE(extracted->content.empty()) << path;
                }
                transcripts += extracted->content.empty() ? 0 : 1;
            }
        if (const auto copilot = extractCopilotJSONL(path)) {
            EXPECT_TRUE(quorral::text::isValidUtf8(*copilot)) << path;
        }
        if (const auto chat = extractGeminiChatDocument(path, 20000)) {
            EXPECT_TRUE(quorral::text::isValidUtf8(chat->content)) << path;
        }
    }
    EXPECT_GT(transcripts, 20u);
}
