#include "text/Unicode.h"

#include <gtest/gtest.h>

using namespace quorral::text;

TEST(Unicode, CountsGraphemeClustersNotBytesOrCodePoints)
{
    struct Case {
        const char *text;
        std::size_t clusters;
    } cases[] = {
        {"", 0},
        {"hello", 5},
        {"a\r\nb", 3},                         // CR LF is one character
        {"caf\xC3\xA9", 4},                    // precomposed é
        {"cafe\xCC\x81", 4},                   // e + combining acute
        {"\xE6\x95\xB0\xE6\x8D\xAE", 2},       // 数据
        {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 1}, // thumbs up + skin tone
        {"\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA", 1}, // a flag: two regional indicators
        {"\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7", 1}, // family ZWJ sequence
        {"a\xFF" "b", 3},                      // an invalid byte stands alone
    };
    for (const auto &c : cases)
        EXPECT_EQ(graphemeCount(c.text), c.clusters) << c.text;
}

TEST(Unicode, CountStopsJustPastTheLimit)
{
    EXPECT_EQ(graphemeCount("abcdefghij", 3), 4u);
    EXPECT_EQ(graphemeCount("\xE6\x95\xB0\xE6\x95\xB0\xE6\x95\xB0\xE6\x95\xB0", 2), 3u);
    EXPECT_EQ(graphemeCount("abc", 3), 3u);
}

TEST(Unicode, PrefixLengthEndsOnAClusterBoundary)
{
    const std::string text = "ab\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD" "cd";
    EXPECT_EQ(graphemePrefixLength(text, 0), 0u);
    EXPECT_EQ(graphemePrefixLength(text, 2), 2u);
    EXPECT_EQ(graphemePrefixLength(text, 3), 10u); // the emoji with its modifier stays whole
    EXPECT_EQ(graphemePrefixLength(text, 99), text.size());
}

TEST(Unicode, TrimsUnicodeWhitespaceButOnlySpacesAndTabsWhenAsked)
{
    EXPECT_EQ(trimWhitespace(" \t\n\r hi there \xE3\x80\x80\xC2\xA0\n"), "hi there"); // ideographic space, NBSP
    EXPECT_EQ(trimWhitespace("\n\n"), "");
    EXPECT_EQ(trimWhitespace("\xE6\x95\xB0"), "\xE6\x95\xB0");
    EXPECT_EQ(trimSpacesAndTabs(" \t x \n\t "), "x \n");
    EXPECT_EQ(trimSpacesAndTabs(" \t "), "");
}

TEST(Unicode, ValidatesUtf8)
{
    EXPECT_TRUE(isValidUtf8("plain \xE6\x95\xB0"));
    EXPECT_FALSE(isValidUtf8("cut \xE6\x95"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF")); // overlong
}

#include "text/JsonString.h"

TEST(JsonString, UnescapesEveryFormAndRejectsMalformedEscapes)
{
    const auto decode = [](std::string_view token) -> std::optional<std::string> {
        const auto raw = quorral::text::jsonStringContent(token);
        if (!raw)
            return std::nullopt;
        std::string out(raw->size(), '\0');
        std::size_t written = 0;
        if (!quorral::text::unescapeJsonString(*raw, out.data(), written))
            return std::nullopt;
        out.resize(written);
        return out;
    };
    EXPECT_EQ(decode(R"("plain text that is longer than sixteen bytes" )"), "plain text that is longer than sixteen bytes");
    EXPECT_EQ(decode(R"("a\"b\\c\/d\b\f\n\r\t")"), "a\"b\\c/d\b\f\n\r\t");
    EXPECT_EQ(decode(R"("\u00e9\u65e5\ud83d\ude00\u0001")"), "é日😀\x01");
    for (const char *bad : {R"("\x")", R"("\u12")", R"("\ud83d")", R"("\ude00x")", R"("\ud83d\u0041")", R"("end\")", "nope"})
        EXPECT_EQ(decode(bad), std::nullopt) << bad;
}
