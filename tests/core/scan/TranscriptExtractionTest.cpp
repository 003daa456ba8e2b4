#include "scan/TranscriptExtraction.h"

#include "LogGenerator.h"
#include "TempHome.h"

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace quorral::scan;
using quorral::test::TempHome;
using testing::HasSubstr;
using testing::StartsWith;

namespace {

std::string userLine(const std::string &text)
{
    return nlohmann::json{{"type", "user"}, {"message", {{"role", "user"}, {"content", text}}}}.dump() + "\n";
}

std::string assistantLine(const std::string &text)
{
    return nlohmann::json{{"type", "assistant"},
                          {"message", {{"content", nlohmann::json::array({{{"type", "thinking"}, {"thinking", "hmm hmm hmm hmm"}},
                                                                          {{"type", "text"}, {"text", text}},
                                                                          {{"type", "tool_use"}, {"name", "Read"}}})}}}}
               .dump()
        + "\n";
}

// Pads a log with lines that yield no message, up to at least `size` bytes.
std::string padded(std::string log, std::size_t size)
{
    while (log.size() < size)
        log += "{\"type\":\"file-history-snapshot\",\"snapshot\":{}}\n";
    return log;
}

std::string padLineToExactly(std::size_t size)
{
    std::string line = "{\"type\":\"summary\",\"summary\":\"\"}";
    line.insert(line.size() - 2, std::string(size - line.size() - 1, 'x'));
    return line + "\n";
}

} // namespace

TEST(ExtractConversation, LogsOfTwoHundredBytesOrLessYieldNothing)
{
    TempHome home;
    const std::string line = userLine("a question with enough text");
    const auto small = home.write("small.jsonl", line + std::string(200 - line.size(), '\n'));
    ASSERT_EQ(std::filesystem::file_size(small), 200u);
    EXPECT_FALSE(extractConversationFromJSONL(small, 0, 150000));

    const auto enough = home.write("enough.jsonl", line + std::string(201 - line.size(), '\n'));
    const auto result = extractConversationFromJSONL(enough, 0, 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->content, "User: a question with enough text\n\n");
    EXPECT_EQ(result->messageCount, 1);
    EXPECT_EQ(result->nextOffset, 201u);
    EXPECT_TRUE(result->reachedEnd);
}

TEST(ExtractConversation, KeepsUserAndAssistantTextAndSkipsEverythingElse)
{
    TempHome home;
    std::string log = "not json at all\n";
    log += " {\"type\":\"user\",\"message\":{\"content\":\"leading space line is skipped\"}}\n";
    log += "[1,2,3]\n{\"type\":\"user\"\n";
    log += "{\"type\":\"user\",\"message\":{\"content\":\"truncated line that never ends";
    log += "\n{\"type\":\"system\",\"message\":{\"content\":\"system says something\"}}\n";
    log += "{\"type\":\"user\",\"message\":\"not an object\"}\n";
    log += "{\"type\":\"user\",\"message\":{\"content\":42}}\n";
    log += "{\"type\":\"user\",\"message\":{\"content\":[\"strings\",\"not objects\"]}}\n";
    log += userLine("How do I make the cache faster?");
    log += nlohmann::json{{"type", "user"},
                          {"message", {{"content", nlohmann::json::array({{{"type", "tool_result"}, {"content", "file body"}}})}}}}
               .dump()
        + "\n";
    log += assistantLine("Let me read the file.");
    log += assistantLine("Use a map keyed by path, and load it lazily.");
    log += nlohmann::json{{"type", "assistant"},
                          {"message", {{"content", nlohmann::json::array({{{"type", "text"}, {"text", "First part"}},
                                                                          {{"type", "text"}, {"text", "second part"}}})}}}}
               .dump()
        + "\n";
    const auto path = home.write("log.jsonl", log);
    const auto result = extractConversationFromJSONL(path, 0, 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->content, "User: How do I make the cache faster?\n\n"
                               "Assistant: Use a map keyed by path, and load it lazily.\n\n"
                               "Assistant: First part\nsecond part\n\n");
    EXPECT_EQ(result->messageCount, 3);
}

TEST(ExtractConversation, OnlyToolResultsYieldNoMessageButMoveTheOffset)
{
    TempHome home;
    std::string log;
    for (int i = 0; i < 5; ++i)
        log += nlohmann::json{{"type", "user"},
                              {"message", {{"content", nlohmann::json::array({{{"type", "tool_result"}, {"content", "output of the tool"}}})}}}}
                   .dump()
            + "\n";
    const auto result = extractConversationFromJSONL(home.write("log.jsonl", log), 0, 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->content, "");
    EXPECT_EQ(result->messageCount, 0);
    EXPECT_EQ(result->nextOffset, log.size());
}

// JSON that only a lenient parse would take: such lines are skipped, the rest kept.
TEST(ExtractConversation, MalformedLinesAreSkipped)
{
    TempHome home;
    std::string log = padded(userLine("a good question to keep"), 300);
    log += "{\"type\":\"user\",\"message\":{\"content\":\"with NaN\"},\"score\":NaN}\n";
    log += "{\"type\":\"user\",\"message\":{\"content\":\"trailing garbage\"}} {\"x\":1}\n";
    log += "{\"type\":\"user\",\"message\":{\"content\":\"unclosed\"},\"extra\":[1,2}\n";
    log += assistantLine("a good answer to keep");
    const auto result = extractConversationFromJSONL(home.write("log.jsonl", log), 0, 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->content, "User: a good question to keep\n\nAssistant: a good answer to keep\n\n");
    EXPECT_EQ(result->messageCount, 2);
}

TEST(ExtractConversation, KeepsTheNewestMessagesThatFitAndCountsAll)
{
    TempHome home;
    std::string log;
    for (int i = 0; i < 400; ++i)
        log += userLine("message number " + std::to_string(i) + " " + std::string(1000, 'a'));
    const auto path = home.write("log.jsonl", log);
    const auto result = extractConversationFromJSONL(path, 0, 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->messageCount, 400);
    EXPECT_LE(result->content.size(), 150000u);
    EXPECT_GT(result->content.size(), 148000u);
    EXPECT_THAT(result->content, StartsWith("User: message number "));
    EXPECT_THAT(result->content, HasSubstr("message number 399 "));
    EXPECT_THAT(result->content, testing::Not(HasSubstr("message number 0 ")));

    // A bound smaller than the newest entry alone leaves no content; the count stays.
    const auto tight = extractConversationFromJSONL(path, 0, 100);
    ASSERT_TRUE(tight);
    EXPECT_EQ(tight->content, "");
    EXPECT_EQ(tight->messageCount, 400);
}

TEST(ExtractConversation, CutsLongMessagesAtTwoThousandCharacters)
{
    TempHome home;
    std::string text;
    for (int i = 0; i < 2100; ++i)
        text += "数";
    const auto result = extractConversationFromJSONL(home.write("log.jsonl", userLine(text)), 0, 150000);
    ASSERT_TRUE(result);
    std::string expected = "User: ";
    for (int i = 0; i < 2000; ++i)
        expected += "数";
    EXPECT_EQ(result->content, expected + "…\n\n");
}

TEST(ExtractConversation, ReadsFromAnOffsetKeepingALineThatStartsThere)
{
    TempHome home;
    const std::string first = padded(userLine("the first question in the log"), 400);
    const std::string appended = userLine("a second question appended") + userLine("and a third one appended");
    const auto path = home.write("log.jsonl", first + appended);

    // The offset the last read left falls exactly on a line start: that line is read.
    auto result = extractConversationFromJSONL(path, first.size(), 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->content, "User: a second question appended\n\nUser: and a third one appended\n\n");
    EXPECT_EQ(result->messageCount, 2);
    EXPECT_EQ(result->nextOffset, first.size() + appended.size());

    // An offset inside a line drops the rest of that line only.
    result = extractConversationFromJSONL(path, first.size() - 1, 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->messageCount, 2);
    result = extractConversationFromJSONL(path, first.size() + 5, 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->content, "User: and a third one appended\n\n");

    // An offset at or past the end reads the whole log again.
    result = extractConversationFromJSONL(path, first.size() + appended.size(), 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->messageCount, 3);
}

// A log caught while a line is being written: the complete lines are used, and the next
// read starts at the unfinished line, so it is read whole once it is done.
TEST(ExtractConversation, AnUnfinishedLastLineIsReadAgainWhenComplete)
{
    TempHome home;
    const std::string first = padded(userLine("the first question in the log"), 400);
    const std::string late = userLine("a late question with 数据 in it");
    const std::size_t cut = late.find("数") + 1; // inside the multi-byte character
    const auto path = home.write("log.jsonl", first + late.substr(0, cut));

    auto result = extractConversationFromJSONL(path, 0, 150000);
    ASSERT_TRUE(result) << "a cut after the last line feed leaves the log usable";
    EXPECT_EQ(result->content, "User: the first question in the log\n\n");
    EXPECT_EQ(result->nextOffset, first.size());

    home.write("log.jsonl", first + late);
    result = extractConversationFromJSONL(path, first.size(), 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->content, "User: a late question with 数据 in it\n\n");
    EXPECT_EQ(result->nextOffset, first.size() + late.size());

    // A whole object without its line feed is a complete last line.
    const std::string noFeed = first + late.substr(0, late.size() - 1);
    home.write("log.jsonl", noFeed);
    result = extractConversationFromJSONL(path, first.size(), 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->messageCount, 1);
    EXPECT_EQ(result->nextOffset, noFeed.size());
}

TEST(ExtractConversation, IncrementalReadStopsAtFourMebibytesAndGoesOnFromThere)
{
    TempHome home;
    const std::string head = padded(userLine("the old part of the conversation"), 1000);
    std::string grown = head;
    grown += "\n" + userLine("the first new question after the offset");
    grown = padded(grown, head.size() + incrementalReadLimit + 1000);
    grown += userLine("beyond the four mebibyte window");
    const auto path = home.write("log.jsonl", grown);
    auto result = extractConversationFromJSONL(path, head.size(), 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->content, "User: the first new question after the offset\n\n");
    EXPECT_FALSE(result->reachedEnd);
    EXPECT_LE(result->nextOffset, head.size() + incrementalReadLimit);

    result = extractConversationFromJSONL(path, result->nextOffset, 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->content, "User: beyond the four mebibyte window\n\n");
    EXPECT_TRUE(result->reachedEnd);
    EXPECT_EQ(result->nextOffset, grown.size());
}

TEST(ExtractConversation, LargeLogsReadOnlyTheirLastTwoMebibytes)
{
    TempHome home;
    std::string log = userLine("an early question that is far too old");
    log = padded(log, largeLogThreshold + 1000);
    log += userLine("a late question in the tail");
    const auto path = home.write("big.jsonl", log);
    const auto result = extractConversationFromJSONL(path, 0, 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->content, "User: a late question in the tail\n\n");
}

// A read boundary inside a multi-byte character must not spoil the whole read.
TEST(ExtractConversation, ReadBoundariesInsideMultiByteCharactersStillDecode)
{
    TempHome home;
    const std::string cjk = "数据数据数据数据数据";
    const std::string lead = "{\"type\":\"summary\",\"summary\":\"";
    std::string cjkLine = lead;
    for (int i = 0; i < 3000; ++i)
        cjkLine += "数";
    cjkLine += "\"}\n";

    // Tail read: S - 2 MiB falls on the second byte of the 1001st character of cjkLine.
    const std::size_t cutInLine = lead.size() + 3 * 1000 + 1;
    const std::string late = userLine("late question " + cjk);
    const std::size_t afterLine = tailLength - (cjkLine.size() - cutInLine);
    const std::string early = padded(userLine("an early question that is far too old"), largeLogThreshold);
    const std::string log = early + cjkLine + padLineToExactly(afterLine - late.size()) + late;
    ASSERT_EQ(log.size() - tailLength, early.size() + cutInLine);
    auto result = extractConversationFromJSONL(home.write("big.jsonl", log), 0, 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->content, "User: late question " + cjk + "\n\n");

    // Incremental read: the offset inside a character, and the 4 MiB window ending inside one.
    const std::string old = padded(userLine("the old part of the conversation"), 500);
    std::string grown = old + "\"数\"\n" + userLine("the question after the offset " + cjk);
    const std::size_t offset = old.size() + 2;
    while ((offset + incrementalReadLimit - (grown.size() + lead.size())) % 3 == 0)
        grown += "\n";
    std::string tail = lead;
    while (grown.size() + tail.size() < offset + incrementalReadLimit + 30)
        tail += "数";
    grown += tail + "\"}\n";
    result = extractConversationFromJSONL(home.write("grown.jsonl", grown), offset, 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->content, "User: the question after the offset " + cjk + "\n\n");
}

TEST(ExtractConversation, InvalidUtf8InsideTheReadYieldsNothing)
{
    TempHome home;
    std::string log = padded(userLine("a valid question here"), 300) + "{\"bad\":\"\xFF\xFE\"}\n" + userLine("another good one");
    EXPECT_FALSE(extractConversationFromJSONL(home.write("bad.jsonl", log), 0, 150000));
}

TEST(ExtractConversation, BadFilesAreAbsentNotFatal)
{
    TempHome home;
    // Binary content named .jsonl.
    std::string binary(4096, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 131) & 0xFF);
    EXPECT_FALSE(extractConversationFromJSONL(home.write("bin.jsonl", binary), 0, 150000));
    // A folder, a missing file and a FIFO (which must not block).
    EXPECT_FALSE(extractConversationFromJSONL(home.mkdir("dir.jsonl"), 0, 150000));
    EXPECT_FALSE(extractConversationFromJSONL(home / "missing.jsonl", 0, 150000));
    const auto fifo = home / "fifo.jsonl";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(extractConversationFromJSONL(fifo, 0, 150000));
    // Deep nesting: the line is skipped, the file stays usable.
    std::string deep = "{\"type\":\"user\",\"message\":{\"content\":" + std::string(5000, '[') + std::string(5000, ']') + "}}\n";
    const auto nested = extractConversationFromJSONL(home.write("deep.jsonl", deep), 0, 150000);
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->messageCount, 0);
}

TEST(ExtractConversation, OneHundredMegabyteLineIsHandled)
{
    TempHome home;
    std::string huge = "{\"type\":\"user\",\"message\":{\"content\":\"" + std::string(100u << 20, 'a') + "\"}}\n";
    const auto path = home.write("huge.jsonl", huge);
    huge.clear();
    // The tail starts inside the line and holds no line feed but the last: nothing to use.
    auto result = extractConversationFromJSONL(path, 0, 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->messageCount, 0);
    // From an offset the window is cut inside the line; the next read moves on past it.
    result = extractConversationFromJSONL(path, 10, 150000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->messageCount, 0);
    EXPECT_EQ(result->nextOffset, 10 + incrementalReadLimit);
}

TEST(ExtractConversation, EveryFixtureParsesWithoutCrashing)
{
    int files = 0;
    int withConversation = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(quorral::test::fixturesDirectory())) {
        if (!entry.is_regular_file())
            continue;
        ++files;
        const auto path = entry.path().string();
        if (const auto result = extractConversationFromJSONL(path, 0, 150000); result && !result->content.empty())
            ++withConversation;
        extractConversationFromJSONL(path, 97, 150000);
        extractCopilotJSONL(path);
    }
    EXPECT_GT(files, 20);
    EXPECT_GE(withConversation, 10); // the Claude Code logs hold real conversations
}

TEST(ExtractConversation, GeneratedSessionsYieldTranscripts)
{
    quorral::loggen::LogGenerator generator(7);
    TempHome home;
    const auto path = home.write("s.jsonl", generator.claudeSession(2u << 20));
    const auto result = extractConversationFromJSONL(path, 0, 150000);
    ASSERT_TRUE(result);
    EXPECT_GT(result->messageCount, 20);
    EXPECT_THAT(result->content, testing::AnyOf(StartsWith("User: "), StartsWith("Assistant: ")));
}
