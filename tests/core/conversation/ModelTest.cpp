#include "conversation/ContentBlockParser.h"
#include "conversation/Model.h"
#include "conversation/TimeFilter.h"

#include <gtest/gtest.h>

using namespace quorral::conversation;

namespace {

std::vector<ContentBlock> parse(const char *json) { return ContentBlockParser::parse(std::string_view(json)); }

Message userMessage(std::vector<ContentBlock> blocks, std::string id = "u")
{
    return Message{std::move(id), MessageRole::user, Instant{0}, std::move(blocks)};
}

} // namespace

TEST(ContentBlockParser, ContentValues)
{
    struct Case {
        const char *json;
        std::vector<ContentBlock> blocks;
    };
    const Case cases[] = {
        {R"("hello")", {TextBlock{"hello"}}},
        {R"("")", {TextBlock{""}}},
        {"42", {}},
        {R"({"type":"text","text":"x"})", {}},
        {R"([{"type":"text","text":"a"},"b"])", {}},
        {R"([{"type":"text","text":"a"},{},{"text":"no type"},{"type":7},{"type":"text","text":3},{"type":"video"}])",
         {TextBlock{"a"}}},
        {R"([{"type":"tool_use","name":"Bash"}])", {ToolUseBlock{"Bash", "{}"}}},
        {R"([{"type":"tool_use","input":[1,2]}])", {ToolUseBlock{"unknown", "{}"}}},
        {R"([{"input": { "cmd" : "ls -l",  "n": [1, 2] }, "type":"tool_use","name":"Bash"}])",
         {ToolUseBlock{"Bash", R"({"cmd":"ls -l","n":[1,2]})"}}},
        {R"([{"type":"tool_result","content":[{"type":"text","text":"one"},{"type":"image"},{"text":"three"}]}])",
         {ToolResultBlock{"one\nthree"}}},
        {R"([{"type":"tool_result","content":"plain"},{"type":"tool_result","content":[]},{"type":"tool_result"}])",
         {ToolResultBlock{"plain"}, ToolResultBlock{""}}},
        {R"([{"type":"thinking","text":"via text"},{"type":"thinking","thinking":"","text":"x"},{"type":"thinking"}])",
         {ThinkingBlock{"via text"}, ThinkingBlock{""}}},
        {R"([{"type":"image"},{"type":"image","source":{"type":"base64","media_type":"image/png"}}])",
         {ImageBlock{"unknown", UnknownImage{}}, ImageBlock{"image/png", UnknownImage{}}}},
        {R"([{"type":"image","source":{"type":"base64","media_type":"image/png","data":"iVBO"}},)"
         R"({"type":"image","source":{"type":"url","url":"https://x/y.png"}}])",
         {ImageBlock{"image/png", Base64Image{"iVBO"}}, ImageBlock{"unknown", UrlImage{"https://x/y.png"}}}},
        {R"([{"type":"text","text":"cut)", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parse(c.json), c.blocks) << c.json;
    EXPECT_TRUE(ContentBlockParser::parse(std::nullopt).empty());
}

TEST(ContentBlock, PlainTextAndFirstTextBlock)
{
    EXPECT_EQ(plainText(ToolUseBlock{"Read", R"({"path":"a"})"}), R"([tool: Read] {"path":"a"})");
    EXPECT_EQ(plainText(ThinkingBlock{"hmm"}), "[thinking] hmm");
    EXPECT_EQ(plainText(ImageBlock{"image/png", UnknownImage{}}), "[image: image/png]");
    EXPECT_EQ(plainText(CodeBlock{"swift", "let x = 1"}), "let x = 1");
    EXPECT_EQ(userMessage({TextBlock{""}}).firstTextBlock(), std::nullopt);
    EXPECT_EQ(userMessage({ToolResultBlock{"r"}, TextBlock{""}, TextBlock{"b"}}).firstTextBlock(), "b");
}

TEST(Conversation, PreviewCountsCharacters)
{
    const auto previewOf = [](std::vector<Message> messages) {
        Conversation c;
        c.messages = std::move(messages);
        return c.preview();
    };
    const std::string forty = "👍🏽" + std::string(38, 'a') + "é"; // 40 characters, many more bytes
    EXPECT_EQ(previewOf({userMessage({TextBlock{forty}})}), forty);
    EXPECT_EQ(previewOf({userMessage({TextBlock{forty + "z"}})}), forty + "…");
    EXPECT_EQ(previewOf({userMessage({ToolResultBlock{"r"}}), userMessage({TextBlock{"later"}})}), "(no text)");
    EXPECT_EQ(previewOf({Message{"a", MessageRole::assistant, Instant{0}, {TextBlock{"hi"}}}}), "(no text)");
    EXPECT_EQ(previewOf({Message{"a", MessageRole::assistant, Instant{0}, {TextBlock{"hi"}}},
                         userMessage({TextBlock{"  spaced"}})}),
              "  spaced");
}

TEST(ConversationLite, SummaryJoinsBlockTextsWithoutImages)
{
    Conversation c{"id1", ConversationSource::cursor, Instant{10}, Instant{25.5}, "/w", std::string("main"), {}};
    c.messages = {userMessage({TextBlock{"Fix THE bug"}, ImageBlock{"image/png", UnknownImage{}}}),
                  Message{"b", MessageRole::assistant, Instant{20},
                          {ThinkingBlock{"look"}, ToolUseBlock{"Bash", "{}"}, ToolResultBlock{"ok"}}}};
    const auto lite = ConversationLite::from(c, "file:///x.jsonl");
    EXPECT_EQ(lite.searchableText, "Fix THE bug\n[thinking] look\n[tool: Bash] {}\nok");
    EXPECT_EQ(lite.preview, "Fix THE bug");
    EXPECT_EQ(lite.messageCount, 2);
    EXPECT_DOUBLE_EQ(lite.duration(), 15.5);
    EXPECT_EQ(lite.gitBranch, "main");

    Conversation onlyImage = c;
    onlyImage.messages = {userMessage({ImageBlock{"image/png", UnknownImage{}}})};
    EXPECT_EQ(ConversationLite::from(onlyImage, "").searchableText, "");
}

TEST(ConversationSource, RawValuesAndNames)
{
    EXPECT_EQ(std::size(allConversationSources), 7u);
    for (auto source : allConversationSources)
        EXPECT_EQ(conversationSourceFromRaw(rawValue(source)), source);
    EXPECT_EQ(displayName(ConversationSource::doubao), "豆包");
    EXPECT_EQ(displayName(ConversationSource::vscodeCopilot), "VS Code Copilot");
    EXPECT_EQ(rawValue(ConversationSource::geminiCli), "geminiCli");
    EXPECT_EQ(displayName(ConversationSource::codex), "Codex");
    EXPECT_EQ(conversationSourceFromRaw("ClaudeCode"), std::nullopt);
    EXPECT_EQ(messageRoleFromRaw("system"), std::nullopt);
}

TEST(FileURL, PercentEncodedPathRoundTrips)
{
    const std::string path = "/home/ann/my logs/日本/a%b#c.jsonl";
    const auto url = fileURLFromPath(path);
    EXPECT_EQ(url, "file:///home/ann/my%20logs/%E6%97%A5%E6%9C%AC/a%25b%23c.jsonl");
    EXPECT_EQ(pathFromFileURL(url), path);
    EXPECT_EQ(pathFromFileURL("file:///a/%zz"), std::nullopt);
    EXPECT_EQ(pathFromFileURL("https://x/y"), std::nullopt);
}

TEST(TimeFilter, CalendarDaysWeeksAndMonths)
{
    // Wednesday 2026-12-09 10:00 UTC; the user lives at UTC+8.
    const Instant now = Instant::fromUnixSeconds(1796810400);
    const auto utc8 = UserCalendar::fixedOffset(8 * 3600, /*Monday*/ 2);
    const auto at = [&](double hoursFromNow) { return Instant{now.secondsSince2001 + hoursFromNow * 3600}; };
    EXPECT_TRUE(matches(TimeFilter::today, at(-17.9), now, utc8));  // 00:06 local the same day
    EXPECT_FALSE(matches(TimeFilter::today, at(-18.1), now, utc8)); // 23:54 local the day before
    EXPECT_FALSE(matches(TimeFilter::today, at(7), now, utc8)); // 01:00 local the next day
    EXPECT_TRUE(matches(TimeFilter::today, at(7), now, UserCalendar::fixedOffset(0)));
    // Monday 2026-12-07 00:30 local opens the week when weeks start on Monday, not on Sunday.
    const Instant monday = at(-(2 * 24 + 17.5));
    EXPECT_TRUE(matches(TimeFilter::thisWeek, monday, now, utc8));
    EXPECT_TRUE(matches(TimeFilter::thisWeek, at(-(3 * 24 + 17.5)), now, UserCalendar::fixedOffset(8 * 3600, 1)));
    EXPECT_FALSE(matches(TimeFilter::thisWeek, at(-(3 * 24 + 17.5)), now, utc8));
    EXPECT_TRUE(matches(TimeFilter::thisMonth, at(-8 * 24 - 17.9), now, utc8)); // 1 December local
    EXPECT_FALSE(matches(TimeFilter::thisMonth, at(-8 * 24 - 18.1), now, utc8));
    EXPECT_FALSE(matches(TimeFilter::thisMonth, at(-365 * 24), now, utc8)); // same month, a year earlier
    EXPECT_TRUE(matches(TimeFilter::all, Instant{-1e9}, now, utc8));
    EXPECT_EQ(timeFilterFromRaw("thisWeek"), TimeFilter::thisWeek);
    EXPECT_EQ(displayName(TimeFilter::all), "全部");
}
