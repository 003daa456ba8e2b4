#include "loaders/Loaders.h"

#include "TempHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace quorral::conversation;
using namespace quorral::loaders;
using quorral::test::TempHome;

namespace {

std::string claudeLine(const std::string &type, const std::string &uuid, const std::string &timestamp,
                       const std::string &content, const std::string &extra = "")
{
    return R"({"type":")" + type + R"(","uuid":")" + uuid + R"(","timestamp":")" + timestamp +
           R"(","message":{"role":")" + type + R"(","content":)" + content + "}" + extra + "}\n";
}

std::vector<std::string> names(const std::vector<std::string> &paths, const std::string &root)
{
    std::vector<std::string> relative;
    for (const auto &path : paths)
        relative.push_back(std::filesystem::relative(path, root).string());
    std::sort(relative.begin(), relative.end());
    return relative;
}

} // namespace

TEST(InternetDateTime, BothFormsAndAnyOffset)
{
    const auto base = parseInternetDateTime("2025-06-12T10:00:00Z");
    ASSERT_TRUE(base);
    EXPECT_DOUBLE_EQ(base->unixSeconds(), 1749722400);
    EXPECT_EQ(parseInternetDateTime("2025-06-12T12:00:00+02:00"), base);
    EXPECT_EQ(parseInternetDateTime("2025-06-12T04:30:00-0530"), base);
    EXPECT_DOUBLE_EQ(parseInternetDateTime("2025-06-12T10:00:00.250Z")->secondsSince2001, base->secondsSince2001 + 0.25);
    for (const char *bad : {"2025-06-12", "2025-06-12T10:00:00", "2025-06-12 10:00:00Z", "2025-02-30T10:00:00Z",
                            "2025-06-12T10:00:00.Z", "2025-06-12T10:00:00Zjunk", "[trimmed for fixture]", ""})
        EXPECT_EQ(parseInternetDateTime(bad), std::nullopt) << bad;
}

TEST(ClaudeCodeLoader, EnumerationSkipsHiddenAndOtherExtensions)
{
    TempHome home;
    const auto dir = ClaudeCodeLoader::defaultProjectsDir(home.path());
    EXPECT_TRUE(ClaudeCodeLoader::enumerateJsonl(dir).empty());
    home.write(".claude/projects/p/a.jsonl", "");
    home.write(".claude/projects/p/deep/b.jsonl", "");
    home.write(".claude/projects/p/C.JSONL", "");
    home.write(".claude/projects/p/.hidden.jsonl", "");
    home.write(".claude/projects/.cache/d.jsonl", "");
    home.write(".claude/projects/p/notes.json", "");
    EXPECT_EQ(names(ClaudeCodeLoader::enumerateJsonl(dir), dir), (std::vector<std::string>{"p/a.jsonl", "p/deep/b.jsonl"}));
    EXPECT_TRUE(ClaudeCodeLoader::loadAll(home / "nowhere").empty());
}

TEST(ClaudeCodeLoader, SessionDetailsMessagesAndOrder)
{
    TempHome home;
    const auto path = home.write(
        ".claude/projects/p/file-stem.jsonl",
        R"({"type":"summary","cwd":"/work/app","sessionId":"s-1"})" "\n" +
            claudeLine("assistant", "a2", "2025-06-12T10:00:05Z", R"([{"type":"text","text":"second"}])",
                       R"(,"gitBranch":"late-branch")") +
            claudeLine("user", "u1", "2025-06-12T10:00:01.5Z", R"("first")") +
            R"({"type":"user","uuid":"x","timestamp":"2025-06-12T10:00:02Z","message":"a string"})" "\n" +
            claudeLine("user", "u3", "2025-06-12", R"("date only")") +
            claudeLine("system", "s", "2025-06-12T10:00:03Z", R"("not a message")") + "  " +
            claudeLine("user", "indented", "2025-06-12T10:00:03Z", R"("skipped")") +
            claudeLine("user", "u4", "2025-06-12T10:00:05Z", "[]"));
    const auto conversation = ClaudeCodeLoader::loadConversation(path);
    ASSERT_TRUE(conversation);
    EXPECT_EQ(conversation->id, "s-1");
    EXPECT_EQ(conversation->cwd, "/work/app");
    EXPECT_EQ(conversation->gitBranch, std::nullopt) << "the branch came after cwd and session were known";
    ASSERT_EQ(conversation->messages.size(), 3u);
    EXPECT_EQ(conversation->messages[0].id, "u1");
    EXPECT_EQ(conversation->messages[1].id, "a2");
    EXPECT_EQ(conversation->messages[2].id, "u4") << "equal timestamps keep file order";
    EXPECT_TRUE(conversation->messages[2].blocks.empty());
    EXPECT_EQ(conversation->startAt, *parseInternetDateTime("2025-06-12T10:00:01.5Z"));
    EXPECT_EQ(conversation->endAt, *parseInternetDateTime("2025-06-12T10:00:05Z"));
    EXPECT_EQ(conversation->source, ConversationSource::claudeCode);
}

TEST(ClaudeCodeLoader, FileNameIdUnreadableAndEmptyLogs)
{
    TempHome home;
    const auto named = home.write("p/abc.jsonl", claudeLine("user", "u", "2025-06-12T10:00:00Z", R"("hi")",
                                                            R"(,"gitBranch":"main")"));
    const auto conversation = ClaudeCodeLoader::loadConversation(named);
    ASSERT_TRUE(conversation);
    EXPECT_EQ(conversation->id, "abc");
    EXPECT_EQ(conversation->cwd, "");
    EXPECT_EQ(conversation->gitBranch, "main");

    LoadError error;
    const auto invalid = home.write("p/bad.jsonl", claudeLine("user", "u", "2025-06-12T10:00:00Z", "\"caf\xe9\""));
    EXPECT_EQ(ClaudeCodeLoader::loadConversation(invalid, &error), std::nullopt);
    EXPECT_EQ(error.path, invalid);
    EXPECT_EQ(error.reason, "is not valid UTF-8 text");

    const auto noMessages = home.write("p/none.jsonl", R"({"type":"summary","summary":"x"})" "\n");
    error = {};
    EXPECT_EQ(ClaudeCodeLoader::loadConversation(noMessages, &error), std::nullopt);
    EXPECT_EQ(error.reason, "") << "no conversation is not a read error";
}

TEST(ClaudeCodeLoader, BadInputNeverCrashesOrHangs)
{
    TempHome home;
    const std::string good = claudeLine("user", "u", "2025-06-12T10:00:00Z", R"("kept")");
    // A deeply nested value, a truncated line, a line of nothing but a brace, and a huge line.
    const auto nested = home.write("p/nested.jsonl", "{\"type\":\"user\",\"x\":" + std::string(200000, '[') + "\n" +
                                                       "{\"type\":\"user\",\"uuid\":\"t\",\"message\":{\"content\":\"cut" +
                                                       "\n{\n" + good);
    const auto conversation = ClaudeCodeLoader::loadConversation(nested);
    ASSERT_TRUE(conversation);
    EXPECT_EQ(conversation->messages.size(), 1u);

    std::string huge = R"({"type":"user","uuid":"big","timestamp":"2025-06-12T10:00:00Z","message":{"content":")";
    huge.append(200u << 20, 'a');
    huge += "\"}}\n";
    const auto big = home.write("p/big.jsonl", huge);
    huge.clear();
    huge.shrink_to_fit();
    const auto bigConversation = ClaudeCodeLoader::loadConversation(big);
    ASSERT_TRUE(bigConversation);
    EXPECT_EQ(std::get<TextBlock>(bigConversation->messages[0].blocks[0]).text.size(), 200u << 20);

    // The same through the summaries, which read the texts as the log escapes them.
    const auto summaries = ClaudeCodeLoader::loadAllLite(home.path(), {});
    ASSERT_EQ(summaries.lites.size(), 2u);
    for (const auto &lite : summaries.lites)
        EXPECT_TRUE(lite.searchableText == "kept" || lite.searchableText.stored().size() == (200u << 20)) << lite.id;
}

TEST(ClaudeCodeLoader, LogAppendedWhileItIsRead)
{
    TempHome home;
    const auto path = home.write("p/live.jsonl", claudeLine("user", "u0", "2025-06-12T10:00:00Z", R"("start")"));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        std::ofstream out(path, std::ios::app);
        for (int i = 1; i < 3000 && !done; ++i) {
            out << claudeLine("assistant", "a" + std::to_string(i), "2025-06-12T10:00:01Z", R"("more text here")");
            out.flush();
        }
    });
    std::size_t last = 0;
    for (int round = 0; round < 50; ++round) {
        const auto conversation = ClaudeCodeLoader::loadConversation(path);
        ASSERT_TRUE(conversation);
        EXPECT_GE(conversation->messages.size(), last);
        last = conversation->messages.size();
    }
    done = true;
    writer.join();
}

TEST(ClaudeCodeLoader, RealLogsLoad)
{
    const auto dir = quorral::test::fixturesDirectory() + "/claude-code";
    std::size_t conversations = 0, messages = 0;
    for (const auto &path : ClaudeCodeLoader::enumerateJsonl(dir)) {
        if (const auto conversation = ClaudeCodeLoader::loadConversation(path)) {
            ++conversations;
            messages += conversation->messages.size();
            EXPECT_LE(conversation->startAt, conversation->endAt) << path;
        }
    }
    EXPECT_GE(conversations, 10u);
    EXPECT_GT(messages, 500u);
    const auto image = ClaudeCodeLoader::loadConversation(dir + "/claude-code-log__4379d1bf-ccb1-414e-a856-9791b73f3af2.jsonl");
    ASSERT_TRUE(image);
    bool sawImage = false;
    for (const auto &message : image->messages)
        for (const auto &block : message.blocks)
            if (const auto *picture = std::get_if<ImageBlock>(&block))
                sawImage = sawImage || (picture->mediaType == "image/png" &&
                                        std::holds_alternative<Base64Image>(picture->source));
    EXPECT_TRUE(sawImage);
}

TEST(CursorLoader, IdsAndTimesComeFromTheFile)
{
    TempHome home;
    const auto path = home.write(".cursor/projects/my-app/agent-transcripts/t1.jsonl",
                                 "\n"
                                 R"({"role":"user","message":{"content":[{"type":"text","text":"hi"}]}})" "\n"
                                 R"({"role":"system","message":{"content":"no"}})" "\n"
                                 R"({"role":"assistant","message":{"content":[]}})" "\n"
                                 R"({"role":"assistant","message":{"content":"yes"}})" "\n");
    quorral::test::setModificationTime(path, 1733820000.0);
    const auto conversation = CursorLoader::loadConversation(path);
    ASSERT_TRUE(conversation);
    ASSERT_EQ(conversation->messages.size(), 2u);
    EXPECT_EQ(conversation->messages[0].id, "1733820000.0-1");
    EXPECT_EQ(conversation->messages[1].id, "1733820000.0-4");
    EXPECT_DOUBLE_EQ(conversation->messages[0].timestamp.unixSeconds(), 1733820000.001);
    EXPECT_DOUBLE_EQ(conversation->endAt.unixSeconds(), 1733820000.004);
    EXPECT_EQ(conversation->id, "t1");
    EXPECT_EQ(conversation->cwd, "my-app") << "the folder holding agent-transcripts";
    EXPECT_EQ(conversation->gitBranch, std::nullopt);

    quorral::test::setModificationTime(path, 1733820000.25);
    EXPECT_EQ(CursorLoader::loadConversation(path)->messages[0].id, "1733820000.25-1");

    const auto top = home.write(".cursor/projects/top.jsonl", R"({"role":"user","message":{"content":"x"}})");
    EXPECT_EQ(CursorLoader::loadConversation(top)->cwd, std::filesystem::path(home.path()).filename().string());
    const auto none = home.write(".cursor/projects/none.jsonl", R"({"role":"user","content":"x"})");
    EXPECT_EQ(CursorLoader::loadConversation(none), std::nullopt);
    for (const auto &fixture : CursorLoader::enumerateJsonl(quorral::test::fixturesDirectory() + "/cursor"))
        EXPECT_TRUE(CursorLoader::loadConversation(fixture)) << fixture;
}

TEST(OpenClawLoader, SessionsFoldersAndRecords)
{
    TempHome home;
    const auto root = OpenClawLoader::defaultRootDir(home.path());
    const auto path = home.write(
        ".openclaw/agents/main/sessions/s1.jsonl",
        R"({"type":"message","id":"m2","timestamp":"2025-06-12T10:00:02Z","message":{"role":"assistant","content":"b"}})" "\n"
        R"({"type":"session","id":"sess-9","cwd":"/proj"})" "\n"
        R"({"type":"message","id":"m1","timestamp":"2025-06-12T10:00:01Z","message":{"role":"user","content":"a"}})" "\n"
        R"({"type":"message","id":"m3","timestamp":"2025-06-12T10:00:02Z","message":{"role":"user"}})" "\n"
        R"({"type":"message","id":"r","role":"user","timestamp":"2025-06-12T10:00:03Z","message":{"content":"x"}})" "\n"
        R"({"type":"message","id":"t","timestamp":"2025-06-12T10:00:03Z","message":{"role":"tool","content":"x"}})" "\n");
    home.write(".openclaw/agents/main/other.jsonl", "");
    home.write(".openclaw/agents/main/Sessions/s2.jsonl", "");
    EXPECT_EQ(names(OpenClawLoader::enumerateSessionJsonl(root), root), (std::vector<std::string>{"main/sessions/s1.jsonl"}));

    const auto conversation = OpenClawLoader::loadConversation(path);
    ASSERT_TRUE(conversation);
    EXPECT_EQ(conversation->id, "sess-9");
    EXPECT_EQ(conversation->cwd, "/proj");
    ASSERT_EQ(conversation->messages.size(), 3u);
    EXPECT_EQ(conversation->messages[0].id, "m1");
    EXPECT_EQ(conversation->messages[1].id, "m2");
    EXPECT_EQ(conversation->messages[2].id, "m3");

    const auto bare = home.write(".openclaw/agents/x/sessions/bare.jsonl",
                                 R"({"type":"message","id":"m","timestamp":"2025-06-12T10:00:00Z","message":{"role":"user","content":"a"}})");
    EXPECT_EQ(OpenClawLoader::loadConversation(bare)->id, "bare");
    EXPECT_EQ(OpenClawLoader::loadConversation(bare)->cwd, "");
    EXPECT_TRUE(OpenClawLoader::loadConversation(quorral::test::fixturesDirectory() + "/openclaw/agentsview__pi_session.jsonl"));
}

// Summaries are made from the logs' escaped texts; they must equal the summary of the
// fully decoded conversation, for real logs and for every way a log may escape a text.
TEST(Loaders, SummariesEqualTheSummaryOfTheFullConversation)
{
    TempHome home;
    const std::string fixtures = std::filesystem::absolute(quorral::test::fixturesDirectory()).lexically_normal().string();
    std::filesystem::create_directories(home.path() + "/.openclaw/agents/pi/sessions");
    std::filesystem::copy(fixtures + "/openclaw/agentsview__pi_session.jsonl",
                          home.path() + "/.openclaw/agents/pi/sessions/pi.jsonl");
    home.write(
        ".claude/projects/p/escapes.jsonl",
        R"({"type":"user","uuid":"u1","timestamp":"2025-06-12T10:00:00Z","sessionId":"s","message":{"content":"caf\u00e9 \/ \ud83d\ude00 \"q\" \\ \b\f\n\t\u0001 end of a long first text"}})" "\n"
        R"({"type":"assistant","uuid":"u2","timestamp":"2025-06-12T10:00:01Z","message":{"content":[{"type":"tool_use","name":"B\u0061sh","input":{"command":"echo \"a\\nb\"","n":[1, 2]}},{"type":"thinking","thinking":"hm\u00e9"},{"type":"image","source":{"type":"base64","media_type":"image/png","data":"iVBOR\/w=="}}]}})" "\n"
        R"({"type":"user","uuid":"u3","timestamp":"2025-06-12T10:00:02Z","message":{"content":[{"type":"tool_result","content":[{"type":"text","text":"line\u000a1"},{"type":"image"},{"text":"two"}]},{"type":"tool_result","content":"x\ty"}]}})" "\n"
        R"({"type":"user","uuid":"u4","timestamp":"2025-06-12T10:00:03Z","message":{"content":"bad \x escape: the line is skipped"}})" "\n"
        R"({"type":"assistant","uuid":"u5","timestamp":"2025-06-12T09:59:59Z","message":{"content":[{"type":"text","text":""},{"type":"text","text":"earlier"}]}})" "\n");
    home.write(".cursor/projects/c/agent-transcripts/c.jsonl",
               R"({"role":"user","message":{"content":[{"type":"text","text":"\u65e5\u672c\u8a9e \u0130stanbul"}]}})" "\n");

    struct Tool {
        std::string directory;
        quorral::cache::LoadLitesResult (*loadAllLite)(const std::string &, const quorral::cache::LiteCacheEntries &);
        std::optional<Conversation> (*loadConversation)(const std::string &, LoadError *);
    };
    const Tool tools[] = {
        {fixtures + "/claude-code", ClaudeCodeLoader::loadAllLite, ClaudeCodeLoader::loadConversation},
        {fixtures + "/cursor", CursorLoader::loadAllLite, CursorLoader::loadConversation},
        {home.path() + "/.claude/projects", ClaudeCodeLoader::loadAllLite, ClaudeCodeLoader::loadConversation},
        {home.path() + "/.cursor/projects", CursorLoader::loadAllLite, CursorLoader::loadConversation},
        {home.path() + "/.openclaw/agents", OpenClawLoader::loadAllLite, OpenClawLoader::loadConversation},
    };
    std::size_t compared = 0;
    for (const auto &tool : tools) {
        const auto result = tool.loadAllLite(tool.directory, {});
        EXPECT_FALSE(result.lites.empty()) << tool.directory;
        for (const auto &lite : result.lites) {
            const auto path = pathFromFileURL(lite.fileURL).value();
            const auto conversation = tool.loadConversation(path, nullptr);
            ASSERT_TRUE(conversation) << path;
            EXPECT_TRUE(lite.searchableText.isJsonEscaped());
            EXPECT_EQ(lite, ConversationLite::from(*conversation, lite.fileURL)) << path;
            ++compared;
        }
    }
    EXPECT_GE(compared, 15u);
}
