// The counting takes short cuts (ASCII runs, texts shorter than the limit); these tests
// hold it to a plain count that asks utf8proc about every pair of code points.
#include "LogGenerator.h"
#include "TempHome.h"
#include "io/ReadFile.h"
#include "scan/TranscriptExtraction.h"
#include "text/Unicode.h"

#include <utf8proc.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace {

// Byte offsets where clusters start (the first at 0), one utf8proc call per pair.
std::vector<std::size_t> clusterStarts(std::string_view s)
{
    std::vector<std::size_t> starts;
    const auto *bytes = reinterpret_cast<const utf8proc_uint8_t *>(s.data());
    utf8proc_int32_t previous = -1, state = 0;
    for (std::size_t pos = 0; pos < s.size();) {
        utf8proc_int32_t cp = -1;
        auto len = utf8proc_iterate(bytes + pos, static_cast<utf8proc_ssize_t>(s.size() - pos), &cp);
        if (len <= 0) {
            len = 1;
            cp = -1;
        }
        bool breakHere = true;
        if (previous >= 0 && cp >= 0)
            breakHere = utf8proc_grapheme_break_stateful(previous, cp, &state);
        else
            state = 0;
        if (pos == 0 || breakHere)
            starts.push_back(pos);
        previous = cp;
        pos += static_cast<std::size_t>(len);
    }
    return starts;
}

void expectSameAsPlainCount(std::string_view s, const std::string &label)
{
    const auto starts = clusterStarts(s);
    const std::size_t total = starts.size();
    ASSERT_EQ(quorral::text::graphemeCount(s), total) << label;
    for (const std::size_t limit : {std::size_t{0}, std::size_t{1}, total / 2, total > 0 ? total - 1 : 0, total, total + 1})
        ASSERT_EQ(quorral::text::graphemeCount(s, limit), std::min(total, limit + 1)) << label << " limit " << limit;
    for (const std::size_t n : {std::size_t{1}, total / 3, total / 2, total > 0 ? total - 1 : 0, total}) {
        const std::size_t expected = n < total ? starts[n] : s.size();
        ASSERT_EQ(quorral::text::graphemePrefixLength(s, n), n == 0 ? 0 : expected) << label << " prefix " << n;
    }
}

} // namespace

TEST(GraphemeCount, MatchesAPlainCountOnTheEdgesOfAsciiRuns)
{
    const std::vector<std::string> cases{
        "",
        "a",
        "\r\n",
        "a\r\nb\r\r\n\n",
        "e\xcc\x81 and e\xcc\x81\xcc\x81",               // combining marks after ASCII
        "x\xe2\x80\x8d""y",                              // ZWJ after ASCII
        "\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa""a\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa\xf0\x9f\x87\xab", // flags around ASCII
        "\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb ok \xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd!", // ZWJ emoji, modifier
        "k\xe0\xa4\xb8\xe0\xa5\x8d\xe0\xa4\xa4 a\xe0\xa5\x8d\xe0\xa4\xa4",               // Devanagari conjunct and virama after ASCII
        "\xff""a\xfe\xcc\x81 \xe6\x95\xb0",              // invalid bytes before and after ASCII
        "\xea\xb0\x80\xe1\x84\x80""a\xe1\x85\xa1",       // Hangul syllables and jamo
        "\r\xcc\x81\n\xcc\x81",                           // marks after CR and LF
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        expectSameAsPlainCount(cases[i], "case " + std::to_string(i));
}

TEST(GraphemeCount, MatchesAPlainCountOnGeneratedLogsAndTheFixtures)
{
    quorral::loggen::LogGenerator generator(7);
    for (int i = 0; i < 20; ++i) {
        expectSameAsPlainCount(generator.claudeTurns(3), "generated turns " + std::to_string(i));
        expectSameAsPlainCount(generator.claudeSession(20000), "generated session " + std::to_string(i));
    }
    std::size_t files = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(quorral::test::fixturesDirectory())) {
        if (!entry.is_regular_file() || entry.file_size() > (4u << 20))
            continue;
        const auto content = quorral::io::readWholeFile(entry.path().string());
        ASSERT_TRUE(content) << entry.path();
        expectSameAsPlainCount(*content, entry.path().string());
        ++files;
    }
    EXPECT_GT(files, 10u) << "the fixtures are there";
}

// The transcript takes the newest messages whose characters fit, counting only near the
// limit: at every limit it holds the same as an exact count everywhere would allow.
TEST(GraphemeCount, TranscriptBudgetIsExactAtEveryLimit)
{
    quorral::test::TempHome home;
    const std::string log = home.write("s.jsonl", quorral::loggen::LogGenerator(11).claudeSession(1500000));
    const auto extract = [&](std::int64_t maxChars) {
        const auto result = quorral::scan::extractConversationFromJSONL(log, 0, maxChars);
        return result ? result->content : std::string("(none)");
    };
    const std::string all = extract(1 << 30);
    const std::size_t total = clusterStarts(all).size();
    ASSERT_GT(total, 5000u);
    for (const std::size_t limit : {total / 50, total / 7, total / 3, total / 2, total - 1}) {
        const std::string kept = extract(static_cast<std::int64_t>(limit));
        const std::size_t characters = clusterStarts(kept).size();
        EXPECT_TRUE(all.ends_with(kept)) << limit;
        EXPECT_LE(characters, limit) << limit;
        // Exactly as many characters as kept is enough for the same transcript, one fewer is not.
        EXPECT_EQ(extract(static_cast<std::int64_t>(characters)), kept) << limit;
        if (characters > 0) {
            EXPECT_LT(extract(static_cast<std::int64_t>(characters) - 1).size(), kept.size()) << limit;
        }
    }
}
