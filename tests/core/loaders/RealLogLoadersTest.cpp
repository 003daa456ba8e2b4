// The conversation library on the shapes real logs take: each case a log whose
// conversation or message used to be lost, then the Codex and Gemini CLI fixtures.

#include "loaders/Loaders.h"

#include "TempHome.h"
#include "store/ConversationStore.h"

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

using namespace quorral::conversation;
using namespace quorral::loaders;
using nlohmann::json;
using quorral::test::TempHome;
using testing::HasSubstr;

namespace fs = std::filesystem;

namespace {

std::string fixture(const std::string &relative) { return quorral::test::fixturesDirectory() + "/" + relative; }

std::string place(const TempHome &home, const std::string &fixtureName, const std::string &relative)
{
    const auto target = home / relative;
    fs::create_directories(fs::path(target).parent_path());
    fs::copy_file(fixture(fixtureName), target, fs::copy_options::overwrite_existing);
    return target;
}

std::string allText(const Conversation &conversation)
{
    std::string text;
    for (const auto &message : conversation.messages)
        for (const auto &block : message.blocks)
            text += plainText(block) + "\n";
    return text;
}

} // namespace

TEST(RealLogLoaders, OpenClawToolCallsLoadAsToolUses)
{
    const auto conversation = OpenClawLoader::loadConversation(fixture("openclaw/agentsview__pi_session.jsonl"));
    ASSERT_TRUE(conversation);
    const auto &assistant = conversation->messages.at(1);
    ASSERT_EQ(assistant.blocks.size(), 3u);
    EXPECT_EQ(assistant.blocks[2], ContentBlock(ToolUseBlock{"read", R"({"file_path":"auth.go"})"}));

    // A turn that is only a tool call is no longer an empty message.
    TempHome home;
    const auto path = home.write(
        "agents/a/sessions/s.jsonl",
        R"({"type":"message","id":"m","timestamp":"2025-01-01T10:00:00Z","message":{"role":"assistant","content":[{"type":"toolCall","name":"bash","arguments":{"cmd":"ls"}},{"type":"toolCall","arguments":[1]}]}})"
        "\n");
    const auto only = OpenClawLoader::loadConversation(path);
    ASSERT_TRUE(only);
    EXPECT_EQ(only->messages[0].blocks,
              (std::vector<ContentBlock>{ToolUseBlock{"bash", R"({"cmd":"ls"})"}, ToolUseBlock{"unknown", "{}"}}));
}

// A log caught mid-write: its last line stops inside a multi-byte character.
TEST(RealLogLoaders, ALastLineCutInsideACharacterKeepsTheLinesBeforeIt)
{
    TempHome home;
    const std::string cut = "\xE6\x97"; // the first two bytes of a three-byte character
    struct Case {
        const char *what;
        std::string relative;
        std::string whole;
        std::string partial;
        std::optional<Conversation> (*load)(const std::string &, LoadError *);
    } cases[] = {
        {"Claude Code", "c.jsonl",
         R"({"type":"user","uuid":"u","timestamp":"2025-06-12T10:00:00Z","sessionId":"s","message":{"content":"日本語の質問"}})" "\n",
         R"({"type":"assistant","uuid":"a","timestamp":"2025-06-12T10:00:01Z","message":{"content":")" + cut,
         ClaudeCodeLoader::loadConversation},
        {"Cursor", "p/agent-transcripts/c.jsonl", R"({"role":"user","message":{"content":"日本語の質問"}})" "\n",
         R"({"role":"assistant","message":{"content":")" + cut, CursorLoader::loadConversation},
        {"OpenClaw", "sessions/o.jsonl",
         R"({"type":"message","id":"m","timestamp":"2025-01-01T10:00:00Z","message":{"role":"user","content":"日本語の質問"}})" "\n",
         R"({"type":"message","id":"n)" + cut, OpenClawLoader::loadConversation},
        {"Codex", "rollout-c.jsonl",
         R"({"timestamp":"2025-01-01T10:00:00Z","type":"response_item","payload":{"type":"message","role":"user","content":[{"type":"input_text","text":"日本語の質問"}]}})" "\n",
         R"({"timestamp":"2025-01-01T10:00:01Z","type":"response_item","payload":{"type":"message","role":"assistant","content":[{"type":"output_text","text":")" + cut,
         CodexLoader::loadConversation},
        {"Gemini CLI", "chats/session-c.jsonl",
         R"({"id":"1","timestamp":"2025-01-01T10:00:00Z","type":"user","content":"日本語の質問"})" "\n",
         R"({"id":"2","type":"gemini","content":")" + cut, GeminiCliLoader::loadConversation},
    };
    for (const auto &c : cases) {
        const auto path = home.write(c.relative, c.whole + c.partial);
        LoadError error;
        const auto conversation = c.load(path, &error);
        ASSERT_TRUE(conversation) << c.what << ": " << error.reason;
        ASSERT_EQ(conversation->messages.size(), 1u) << c.what;
        EXPECT_EQ(conversation->messages[0].firstTextBlock(), "日本語の質問") << c.what;
    }
    // Invalid text before the last line still makes the log unreadable.
    LoadError error;
    EXPECT_FALSE(ClaudeCodeLoader::loadConversation(home.write("bad.jsonl", "{\"x\":\"\xFF\"}\n" + cases[0].whole), &error));
    EXPECT_EQ(error.reason, "is not valid UTF-8 text");
}

TEST(RealLogLoaders, SubagentLogsAreMarkedAndShareTheSessionId)
{
    TempHome home;
    const std::string session = "ef958aa1-0e93-49f0-bb71-150f63befcd1";
    const auto main = place(home, "claude-code/claude-code-log__ef958aa1-0e93-49f0-bb71-150f63befcd1.jsonl",
                            ".claude/projects/-experiments-worktrees/" + session + ".jsonl");
    const auto sub = place(home, "claude-code/claude-code-log__ef958aa1_subagents_agent-a4ca7529859c158c2.jsonl",
                           ".claude/projects/-experiments-worktrees/" + session + "/subagents/agent-a4ca7529859c158c2.jsonl");
    const auto legacy = place(home, "claude-code/claude-code-log__agent-3430b97e.jsonl",
                              ".claude/projects/-experiments-worktrees/agent-3430b97e.jsonl");
    const auto lites = quorral::store::loadAllSummaries(
        quorral::store::LogRoots{home / ".claude/projects", {}, {}, {}, {}}, home / "cache.json");
    ASSERT_EQ(lites.size(), 3u);
    for (const auto &lite : lites) {
        const auto path = pathFromFileURL(lite.fileURL).value();
        EXPECT_EQ(lite.sidechain, path != main) << path;
        if (path != legacy) {
            EXPECT_EQ(lite.id, session);
        }
    }
    // The flag survives the summary cache.
    const auto again = quorral::store::loadAllSummaries(
        quorral::store::LogRoots{home / ".claude/projects", {}, {}, {}, {}}, home / "cache.json");
    EXPECT_EQ(again, lites);
    const auto full = ClaudeCodeLoader::loadConversation(sub);
    ASSERT_TRUE(full);
    EXPECT_TRUE(full->sidechain);
}

TEST(RealLogLoaders, CursorProjectIsTheFolderHoldingTheTranscripts)
{
    const struct {
        const char *path;
        const char *project;
    } cases[] = {
        {"/h/.cursor/projects/Users-ann-web/agent-transcripts/abc.jsonl", "Users-ann-web"},
        {"/h/.cursor/projects/Users-ann-web/agent-transcripts/abc/abc.jsonl", "Users-ann-web"},
        {"/h/.cursor/projects/Users-ann-web/agent-transcripts/abc/subagents/s.jsonl", "Users-ann-web"},
        {"/h/.cursor/projects/work/chats/x/y.jsonl", "work"},
        {"agent-transcripts/a.jsonl", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CursorLoader::projectName(c.path), c.project) << c.path;

    TempHome home;
    const auto path = place(home, "cursor/agent-sessions__test-session.jsonl",
                            ".cursor/projects/Users-ann-web/agent-transcripts/t.jsonl");
    const auto conversation = CursorLoader::loadConversation(path);
    ASSERT_TRUE(conversation);
    EXPECT_EQ(conversation->cwd, "Users-ann-web");
}

TEST(RealLogLoaders, CodexRolloutsLoadWithTheirSessionDetails)
{
    const auto current = CodexLoader::loadConversation(
        fixture("codex/codex-session-view__rollout-2025-11-17T15-30-28-019a93b9-f380-7600-98ff-940e6b99603c.jsonl"));
    ASSERT_TRUE(current);
    EXPECT_EQ(current->id, "019a93b9-f380-7600-98ff-940e6b99603c");
    EXPECT_EQ(current->source, ConversationSource::codex);
    EXPECT_EQ(current->cwd, "/home/user/projects/temp/chatbot-ui");
    EXPECT_THAT(current->preview(), testing::StartsWith("finish up the users work"));
    EXPECT_THAT(allText(*current), HasSubstr("[tool: shell] {\"command\":[\"bash\",\"-lc\",\"ls\"]"));
    EXPECT_THAT(allText(*current), testing::Not(HasSubstr("<environment_context>")));
    EXPECT_LE(current->startAt, current->endAt);

    const auto legacy = CodexLoader::loadConversation(
        fixture("codex/claude-code-log__rollout-44444444-4444-4444-8444-444444444444_legacy.jsonl"));
    ASSERT_TRUE(legacy);
    EXPECT_EQ(legacy->id, "44444444-4444-4444-8444-444444444444");
    ASSERT_EQ(legacy->messages.size(), 2u);
    EXPECT_EQ(legacy->preview(), "Open the synthetic legacy session.");

    const auto events = CodexLoader::loadConversation(
        fixture("codex/claude-code-log__rollout-66666666-6666-4666-8666-666666666666_malformed.jsonl"));
    ASSERT_TRUE(events);
    EXPECT_EQ(events->preview(), "Safe line before malformed input.");

    const auto ide = CodexLoader::loadConversation(fixture("codex/VibeCodingTracker__test_conversation_codex.jsonl"));
    ASSERT_TRUE(ide);
    EXPECT_THAT(ide->preview(), testing::StartsWith("幫我檢查一下 go.mod"));
    const auto small = CodexLoader::loadConversation(fixture("codex/agent-sessions__codex_small.jsonl"));
    ASSERT_TRUE(small);
    EXPECT_EQ(small->preview(), "List the files");
}

TEST(RealLogLoaders, GeminiChatsLoadInBothForms)
{
    TempHome home;
    const std::string project = ".gemini/tmp/9da8b3dfb8655182ac1f0e66601c367e34f8d18447a29759eeba4d7e45dc60ea";
    const auto lines = place(home, "gemini-cli/VibeCodingTracker__gemini.jsonl", project + "/chats/session-a.jsonl");
    const auto document = place(home, "gemini-cli/VibeCodingTracker__test_conversation_gemini.json",
                                ".gemini/tmp/my-app/chats/session-b.json");

    const auto log = GeminiCliLoader::loadConversation(lines);
    ASSERT_TRUE(log);
    EXPECT_EQ(log->id, "0ab84937-9fe7-4284-986a-33c832af0b6a");
    EXPECT_EQ(log->cwd, "") << "a project hash names no folder";
    std::set<std::string> ids;
    for (const auto &message : log->messages)
        EXPECT_TRUE(ids.insert(message.id).second) << "a message written twice is loaded once: " << message.id;
    EXPECT_THAT(allText(*log), HasSubstr("幫我做一個小修改"));
    EXPECT_THAT(allText(*log), testing::Not(HasSubstr("Request cancelled.")));

    const auto chat = GeminiCliLoader::loadConversation(document);
    ASSERT_TRUE(chat);
    EXPECT_EQ(chat->cwd, "my-app");
    EXPECT_THAT(chat->preview(), testing::StartsWith("請幫我依照專案實際狀況更新"));
    EXPECT_THAT(allText(*chat), HasSubstr("[tool: read_file] {\"file_path\":\"README.md\"}"));
    home.write(".gemini/tmp/my-app/.project_root", "/home/ann/code/my-app\n");
    EXPECT_EQ(GeminiCliLoader::loadConversation(document)->cwd, "/home/ann/code/my-app");

    const auto lites = quorral::store::loadAllSummaries(
        quorral::store::LogRoots{{}, {}, {}, {}, home / ".gemini/tmp"}, "");
    ASSERT_EQ(lites.size(), 2u);
    for (const auto &lite : lites) {
        EXPECT_EQ(lite.source, ConversationSource::geminiCli);
        const auto full = loadConversationFor(lite.source, pathFromFileURL(lite.fileURL).value());
        ASSERT_TRUE(full);
        EXPECT_EQ(ConversationLite::from(*full, lite.fileURL), lite);
    }
}

TEST(RealLogLoaders, BadFilesInTheNewFormatsGiveNothing)
{
    TempHome home;
    std::string binary(8192, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 167) & 0xFF);
    const std::string wrongTypes = R"({"type":"session_meta","payload":[1]})" "\n"
                                   R"({"type":"response_item","payload":{"type":"message","role":"user","content":{"a":1}}})" "\n"
                                   R"({"type":"response_item","payload":{"type":"function_call","name":7,"arguments":"not json"}})" "\n"
                                   R"({"type":"event_msg","payload":{"type":"agent_message","message":[]}})" "\n"
                                   R"({"id":[],"type":"user","content":[{"text":1}],"thoughts":{},"toolCalls":[1,{"args":"x"}]})" "\n";
    for (const auto &[name, text] : {std::pair<std::string, std::string>{"session-bin.json", binary},
                                     {"session-bin.jsonl", binary},
                                     {"session-types.json", R"({"sessionId":1,"messages":[1,{"type":"gemini","content":[[]]}]})"},
                                     {"session-cut.json", R"({"messages":[{"type":"user","content":"cut)"}}) {
        const auto path = home.write(name, text);
        EXPECT_FALSE(GeminiCliLoader::loadConversation(path)) << name;
        EXPECT_FALSE(CodexLoader::loadConversation(path)) << name;
    }
    // Of the lines with wrong types, only the tool calls are left, their names and
    // arguments unknown.
    const std::vector<ContentBlock> unknownCall{ToolUseBlock{"unknown", "{}"}};
    const auto codex = CodexLoader::loadConversation(home.write("rollout-x.jsonl", wrongTypes));
    ASSERT_TRUE(codex);
    ASSERT_EQ(codex->messages.size(), 1u);
    EXPECT_EQ(codex->messages[0].blocks, unknownCall);
    EXPECT_EQ(codex->id, "rollout-x");
    const auto gemini = GeminiCliLoader::loadConversation(home.write("session-types.jsonl", wrongTypes));
    ASSERT_TRUE(gemini);
    ASSERT_EQ(gemini->messages.size(), 1u);
    EXPECT_EQ(gemini->messages[0].blocks, unknownCall);
}
