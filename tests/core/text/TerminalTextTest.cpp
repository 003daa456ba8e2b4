#include "text/TerminalText.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

using quorral::text::escapeForTerminal;

TEST(TerminalText, ControlCharactersAreWrittenOut)
{
    struct Case {
        const char *name;
        std::string text;
        std::string shown;
    } cases[] = {
        {"plain text and CJK", "a b\xE6\x95\xB0 \xE2\x80\x94 \xF0\x9F\x91\x8D", "a b\xE6\x95\xB0 \xE2\x80\x94 \xF0\x9F\x91\x8D"},
        {"line feed and tab stay", "one\n\ttwo\n", "one\n\ttwo\n"},
        {"colour", "\x1b[31mred\x1b[0m", "\\u001b[31mred\\u001b[0m"},
        {"window title (OSC 0, BEL)", "\x1b]0;owned\x07", "\\u001b]0;owned\\u0007"},
        {"clipboard write (OSC 52, ST)", "\x1b]52;c;cm0gLXJmIH4K\x1b\\", "\\u001b]52;c;cm0gLXJmIH4K\\u001b\\"},
        {"NUL, backspace, DEL", std::string("a\0b\bc\x7f", 6), "a\\u0000b\\u0008c\\u007f"},
        {"a lone carriage return overwrites the line", "safe\rEVIL", "safe\\u000dEVIL"},
        {"CR LF is a line end", "a\r\nb\r", "a\r\nb\\u000d"},
        {"C1 CSI and OSC as characters", "\xC2\x9B" "2J \xC2\x9D" "0;t\xC2\x9C", "\\u009b2J \\u009d0;t\\u009c"},
        {"first character past C1", "\xC2\xA0\xC2\xA9", "\xC2\xA0\xC2\xA9"},
        {"raw C1 byte is not UTF-8", "\x9b" "2J", "\\x9b2J"},
        {"overlong ESC", "\xC0\x9B", "\\xc0\\x9b"},
        {"truncated sequence at the end", "ok\xE6\x95", "ok\\xe6\\x95"},
        {"surrogate half", "\xED\xA0\x80", "\\xed\\xa0\\x80"},
        {"empty", "", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(escapeForTerminal(c.text), c.shown) << c.name;
}

TEST(TerminalText, JsonStaysValidWithTheSameValue)
{
    // JSON writers escape C0 controls themselves, but leave DEL and the C1 controls raw.
    const nlohmann::json value = {{"preview", "\x7f\xC2\x9B" "31m \xE6\x95\xB0"}, {"cwd", "/a\\b"}};
    const std::string dumped = value.dump(2);
    const std::string shown = escapeForTerminal(dumped);
    EXPECT_EQ(shown.find('\x7f'), std::string::npos);
    EXPECT_EQ(shown.find("\xC2\x9B"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(shown), value);
}
