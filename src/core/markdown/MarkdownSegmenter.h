#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Cuts a message text into prose and fenced code, line by line; never fails.
namespace quorral::markdown {

struct ProseSegment {
    std::string text;
    bool operator==(const ProseSegment &) const = default;
};
struct CodeSegment {
    std::string language; // as written, possibly empty
    std::string body;
    bool operator==(const CodeSegment &) const = default;
};
using MarkdownSegment = std::variant<ProseSegment, CodeSegment>;

namespace MarkdownSegmenter {
std::vector<MarkdownSegment> split(std::string_view text);
// The language of an opening fence line ("```swift title" gives "swift"), absent for a line
// that opens no block.
std::optional<std::string> openingFenceLanguage(std::string_view line);
} // namespace MarkdownSegmenter

} // namespace quorral::markdown
