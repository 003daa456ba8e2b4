#include "markdown/MarkdownSegmenter.h"

#include <gtest/gtest.h>

using namespace quorral::markdown;

TEST(MarkdownSegmenter, SplitsProseAndFencedCode)
{
    struct Case {
        const char *name;
        std::string text;
        std::vector<MarkdownSegment> segments;
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"no fence", "just\n\n text ", {ProseSegment{"just\n\n text "}}},
        {"swift block then prose", "Intro\n```swift\nlet a = 1\nprint(a)\n```\n\nAfter",
         {ProseSegment{"Intro"}, CodeSegment{"swift", "let a = 1\nprint(a)"}, ProseSegment{"\nAfter"}}},
        {"indented fences", "  ```py title\n  x = 1\n\t```  ", {CodeSegment{"py", "  x = 1"}}},
        {"unclosed", "a\n```\nrest\n```js", {ProseSegment{"a"}, CodeSegment{"", "rest\n```js"}}},
        {"fence on the last line", "a\n```rust", {ProseSegment{"a"}, CodeSegment{"rust", ""}}},
        {"four backquotes", "````\nx\n````\n```", {CodeSegment{"`", "x\n````"}}},
        {"empty line between blocks is dropped", "```\n```\n\n```c\n```", {CodeSegment{"", ""}, CodeSegment{"c", ""}}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(MarkdownSegmenter::split(c.text), c.segments) << c.name;
}
