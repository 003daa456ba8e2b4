#include "scan/NoiseFilter.h"

#include <gtest/gtest.h>

using quorral::scan::filterNoiseFromMessage;

namespace {

struct Case {
    const char *name;
    std::string text;
    const char *role;
    std::string expected;
};

std::string lines(std::initializer_list<const char *> parts)
{
    std::string out;
    for (const char *p : parts) {
        if (!out.empty())
            out += '\n';
        out += p;
    }
    return out;
}

} // namespace

TEST(NoiseFilter, Table)
{
    const std::string longCheck = "Let me check the configuration once more, because the failing test depends on it a lot.";
    ASSERT_GE(longCheck.size(), 80u);
    const Case cases[] = {
        {"short after trimming", "  \n seven77 \n", "user", ""},
        {"eight characters pass", " eight888 ", "user", "eight888"},
        {"eight CJK characters pass", "数据数据数据数据", "user", "数据数据数据数据"},
        {"command echo as user", "<command-name>/clear</command-name>", "user", ""},
        {"local command output", "<local-command-stdout>done</local-command-stdout>", "assistant", ""},
        {"angle bracket without command passes", "<b>bold statement here</b>", "user", "<b>bold statement here</b>"},
        {"short assistant noise", "Let me read the file.", "assistant", ""},
        {"short chinese noise", "好的，已更新配置文件", "assistant", ""},
        {"same text from the user passes", "Let me read the file.", "user", "Let me read the file."},
        {"long assistant text with a pattern passes", longCheck, "assistant", longCheck},
        {"code block with language", "Before\n```swift\nlet x = 1\n```\nafter it", "user", "Before\n[swift code]\nafter it"},
        {"code block without language", "See this: ```\nplain\n``` and more", "user", "See this: [code] and more"},
        {"language name trimmed", "Look ```  python \t\nx\n``` there", "user", "Look [python code] there"},
        {"two blocks", "A ```js\n1\n``` B ```\n2\n``` C end", "user", "A [js code] B [code] C end"},
        {"unterminated block cuts the rest", "Here is the start\n```cpp\nint main() {", "user", "Here is the start"},
        {"fence at the very end", "Nearly finished here ```", "user", "Nearly finished here"},
        {"only a block left is too short", "```\nlots of code\n```", "user", ""},
        {"five path lines", lines({"Files:", "/a/1", "/a/2", "/a/3", "/a/4", "/a/5", "done."}), "user",
         lines({"Files:", "/a/1", "/a/2", "[... 3 more paths]", "done."})},
        {"three path lines at the end", lines({"Tree of it", "├── a", "│   └── b", "└── c"}), "user",
         lines({"Tree of it", "├── a", "│   └── b", "[... 1 more paths]"})},
        {"two path lines are left alone", lines({"Two of them", "./x", "  /y"}), "user", lines({"Two of them", "./x", "  /y"})},
        {"runs are counted separately", lines({"start here", "/1", "/2", "/3", "mid", "/4", "/5", "/6", "/7"}), "user",
         lines({"start here", "/1", "/2", "[... 1 more paths]", "mid", "/4", "/5", "[... 2 more paths]"})},
    };
    for (const auto &c : cases)
        EXPECT_EQ(filterNoiseFromMessage(c.text, c.role), c.expected) << c.name;
}

TEST(NoiseFilter, ShortAssistantLimitCountsCharactersNotBytes)
{
    // 79 CJK characters (237 bytes) with a pattern is still short, so it is noise.
    std::string text;
    for (int i = 0; i < 76; ++i)
        text += "数";
    text += "已更新";
    EXPECT_EQ(filterNoiseFromMessage(text, "assistant"), "");
    text = "数" + text; // 80 characters: no longer short
    EXPECT_EQ(filterNoiseFromMessage(text, "assistant"), text);
}

TEST(NoiseFilter, PathologicalBackticksTerminate)
{
    std::string text = "text ";
    for (int i = 0; i < 2000; ++i)
        text += "``````x`` ";
    EXPECT_NO_THROW(filterNoiseFromMessage(text, "user"));
}
