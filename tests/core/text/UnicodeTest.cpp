#include "text/Unicode.h"

#include <gtest/gtest.h>

#include <random>

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
    const std::pair<std::string_view, bool> cases[] = {
        {"plain \xE6\x95\xB0", true},
        {"emoji \xF0\x9F\x98\x80", true},
        {"", true},
        {"cut \xE6\x95", false},
        {"\xC0\xAF", false},          // overlong
        {"\xED\xA0\x80", false},      // a UTF-16 surrogate
        {"\xF4\x90\x80\x80", false}, // above U+10FFFF
        {"\x80 stray continuation", false},
    };
    for (const auto &[text, valid] : cases) {
        EXPECT_EQ(isValidUtf8(text), valid) << text;
        EXPECT_EQ(isValidUtf8Short(text), valid) << text;
    }
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

TEST(JsonString, OneCanonicalEscapedForm)
{
    using namespace quorral::text;
    std::string every;
    for (int c = 0; c < 0x20; ++c)
        every += static_cast<char>(c);
    every += "\"\\/\x7F é日😀 plain text past sixteen bytes";
    const auto escaped = jsonEscaped(every);
    const std::string start = R"(\u0000\u0001\u0002\u0003\u0004\u0005\u0006\u0007\u0008\t\n\u000b\u000c\r)";
    EXPECT_EQ(escaped.substr(0, start.size()), start);
    EXPECT_TRUE(isCanonicalJsonEscaped(escaped));
    std::string decoded(escaped.size(), '\0');
    std::size_t written = 0;
    ASSERT_TRUE(unescapeJsonString(escaped, decoded.data(), written));
    EXPECT_EQ(decoded.substr(0, written), every);

    // Valid JSON, but not as this program writes it.
    for (const char *other : {R"(a\/b)", R"(\b)", R"(\f)", R"(\u00e9)", R"(\u000a)", R"(\u0009)", R"(\u000d)", R"(\u001F)",
                              R"(\ud83d\ude00)", "raw \x01 control", "raw \" quote", R"(ends \)", R"(\u00)", R"(\x)"})
        EXPECT_FALSE(isCanonicalJsonEscaped(other)) << other;
    EXPECT_TRUE(isCanonicalJsonEscaped(R"(long enough to be scanned in blocks \n\"\\\t\r\u001f\u0000 and é)"));
}

TEST(JsonString, CharacterStartsInEscapedText)
{
    // a \n b \u0001 c \\ n \\ \" u
    const std::string escaped = R"(a\nb\u0001c\\n\\\"u)";
    const std::string starts = "1101100000110110101"; // per byte: does a character begin here
    ASSERT_EQ(starts.size(), escaped.size());
    for (std::size_t pos = 0; pos < escaped.size(); ++pos)
        EXPECT_EQ(quorral::text::startsEscapedCharacter(escaped, pos), starts[pos] == '1') << pos;
    EXPECT_TRUE(quorral::text::startsEscapedCharacter(escaped, escaped.size()));
}

TEST(JsonString, CanonicalMeansDecodingAndEscapingAgainGivesTheSameBytes)
{
    // Random content over the bytes that matter, long enough to cross the 64-byte blocks
    // the check works in, with runs of backslashes across their borders.
    std::mt19937 random(7);
    const std::string_view good[] = {"a", "u", "0", "n", "\\\\", "\\\\", "\\n", "\\\"", "\\t", "\\r", "\\u001f", "\\u0000", "é"};
    const std::string_view bad[] = {"\\", "\\/", "\\b", "\\u000a", "\\u00e9", "\\u001F", "\"", "\x01", "\\u00"};
    int canonical = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string raw;
        for (std::size_t pieces = random() % 120; pieces > 0; --pieces)
            raw += random() % 100 == 0 ? bad[random() % std::size(bad)] : good[random() % std::size(good)];
        std::string decoded(raw.size(), '\0');
        std::size_t written = 0;
        const bool decodes = quorral::text::unescapeJsonString(raw, decoded.data(), written);
        decoded.resize(written);
        const bool expected = decodes && quorral::text::jsonEscaped(decoded) == raw;
        ASSERT_EQ(quorral::text::isCanonicalJsonEscaped(raw), expected) << raw;
        ASSERT_EQ(quorral::text::detail::isCanonicalJsonEscapedNarrow(raw), expected) << raw;
        canonical += expected;
    }
    EXPECT_GT(canonical, 5000);
    EXPECT_LT(canonical, 15000);
}
