#include "scan/TranscriptExtraction.h"

#include "TempHome.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

using namespace quorral::scan;
using nlohmann::json;
using quorral::test::TempHome;

namespace {

std::string record(int kind, const json &requests)
{
    return json{{"kind", kind}, {"v", {{"requests", requests}}}}.dump() + "\n";
}

} // namespace

TEST(ExtractCopilot, TakesRequestsAndTheirResponsesInOrder)
{
    TempHome home;
    const json requests = json::array({
        {{"message", {{"text", "How do I rename a branch?"}}},
         {"response", json::array({{{"value", "Use git branch -m."}},
                                   {{"kind", "inlineReference"}},
                                   {{"value", {{"content", json::array({{{"value", "old"}}, {{"value", "new"}}, {{"x", 1}}})}}}},
                                   {{"value", {{"content", json::array({{{"kind", "no value"}}})}}}}})}},
        {{"message", {{"text", ""}}}, {"response", json::array({{{"value", "ok"}}})}},
        {{"message", {{"text", "hi"}}}, {"response", "not an array"}},
    });
    std::string log = "garbage line\n" + record(1, requests) + record(0, requests) + "{\"kind\":0.0,\"v\":{\"requests\":[]}}\n";
    const auto transcript = extractCopilotJSONL(home.write("chat.jsonl", log));
    ASSERT_TRUE(transcript);
    // No noise filter: the two-character "hi" and "ok" stay.
    EXPECT_EQ(*transcript, "User: How do I rename a branch?\n\n"
                           "Assistant: Use git branch -m.\nold\nnew\n\n\n"
                           "Assistant: ok\n\n"
                           "User: hi\n\n");
}

TEST(ExtractCopilot, RecordsOfOtherKindsOrShapesYieldNothing)
{
    TempHome home;
    const json requests = json::array({{{"message", {{"text", "a question"}}}}});
    EXPECT_FALSE(extractCopilotJSONL(home.write("a.jsonl", record(1, requests) + record(2, requests))));
    EXPECT_FALSE(extractCopilotJSONL(home.write("b.jsonl", "{\"kind\":0,\"v\":{\"requests\":{}}}\n")));
    EXPECT_FALSE(extractCopilotJSONL(home.write("c.jsonl", record(0, json::array({1, 2})))));
    EXPECT_FALSE(extractCopilotJSONL(home / "missing.jsonl"));
}

TEST(ExtractCopilot, KeepsTheOldestMessagesWithinTheBoundAndCutsLongOnes)
{
    TempHome home;
    json requests = json::array();
    for (int i = 0; i < 100; ++i)
        requests.push_back({{"message", {{"text", "question " + std::to_string(i) + " " + std::string(6000, 'q')}}}});
    const auto transcript = extractCopilotJSONL(home.write("chat.jsonl", record(0, requests)));
    ASSERT_TRUE(transcript);
    const std::string firstEntry = "User: question 0 " + std::string(5000 - 11, 'q') + "…\n\n";
    EXPECT_EQ(transcript->substr(0, firstEntry.size()), firstEntry);
    // Each entry is 5,009 characters: 29 fit in 150,000.
    EXPECT_NE(transcript->find("question 28 "), std::string::npos);
    EXPECT_EQ(transcript->find("question 29 "), std::string::npos);
}
