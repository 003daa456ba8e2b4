#include "highlight/SyntaxHighlighter.h"

#include <gtest/gtest.h>

#include <random>

using namespace quorral::highlight;
using K = HighlightTokenKind;

namespace {

std::string joined(const std::vector<HighlightToken> &tokens)
{
    std::string text;
    for (const auto &token : tokens)
        text += token.text;
    return text;
}

} // namespace

TEST(SyntaxHighlighter, RuleSets)
{
    struct Case {
        const char *language;
        std::string code;
        std::vector<HighlightToken> tokens;
    };
    const Case cases[] = {
        {"SwIfT", "let x = \"a\\\"b\" // c\nSelf SELF",
         {{K::keyword, "let"}, {K::plain, " x = "}, {K::string, "\"a\\\"b\""}, {K::plain, " "}, {K::comment, "// c"},
          {K::plain, "\n"}, {K::keyword, "Self"}, {K::plain, " SELF"}}},
        {"sql", "SELECT a FROM t -- all", {{K::keyword, "SELECT"}, {K::plain, " a "}, {K::keyword, "FROM"}, {K::plain, " t "},
                                            {K::comment, "-- all"}}},
        {"js", "const s = 'open\nnext", {{K::keyword, "const"}, {K::plain, " s = "}, {K::string, "'open"}, {K::plain, "\nnext"}}},
        {"ts", "a /* never closed\nconst", {{K::plain, "a "}, {K::comment, "/* never closed\nconst"}}},
        {"python", "x = \"#no\" # yes", {{K::plain, "x = "}, {K::string, "\"#no\""}, {K::plain, " "}, {K::comment, "# yes"}}},
        {"py", "'''doc'''", {{K::string, "''"}, {K::string, "'doc'"}, {K::string, "''"}}},
        {"go", "3abc `raw` nil", {{K::plain, "3abc "}, {K::string, "`raw`"}, {K::plain, " "}, {K::keyword, "nil"}}},
        {"json", "{\"a\": true}", {{K::plain, "{"}, {K::string, "\"a\""}, {K::plain, ": "}, {K::keyword, "true"}, {K::plain, "}"}}},
        {"rs", "s\"x\\", {{K::plain, "s"}, {K::string, "\"x\\"}}},
        {"bash", "échø if_x if", {{K::plain, "échø if_x "}, {K::keyword, "if"}}},
        {"", "let x", {{K::plain, "let x"}}},
        {"cobol", "MOVE", {{K::plain, "MOVE"}}},
        {"swift", "", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SyntaxHighlighter::highlight(c.language, c.code), c.tokens) << c.language << ": " << c.code;
    EXPECT_TRUE(SyntaxHighlighter::supports("TypeScript"));
    EXPECT_FALSE(SyntaxHighlighter::supports("c++"));
}

TEST(SyntaxHighlighter, TokensAlwaysConcatenateToTheInput)
{
    const char alphabet[] = "ab_ 9\"'`\\/*#-\n\r\té日👍🏽{}";
    std::mt19937 random(7);
    for (const char *language : {"swift", "js", "py", "sh", "sql", "json", "go", "rust"}) {
        for (int round = 0; round < 300; ++round) {
            std::string code;
            const int length = static_cast<int>(random() % 60);
            for (int i = 0; i < length; ++i)
                code += alphabet[random() % (sizeof alphabet - 1)];
            // Random bytes may cut a UTF-8 sequence: the tokens must still give the input back.
            EXPECT_EQ(joined(SyntaxHighlighter::highlight(language, code)), code) << language;
        }
    }
}
