#pragma once

#include <string>
#include <string_view>
#include <vector>

// Cuts code into plain, keyword, string and comment tokens with a small rule table per
// language. The token texts always concatenate back to the input.
namespace quorral::highlight {

enum class HighlightTokenKind { plain, keyword, string, comment };

struct HighlightToken {
    HighlightTokenKind kind = HighlightTokenKind::plain;
    std::string text;
    bool operator==(const HighlightToken &) const = default;
};

namespace SyntaxHighlighter {
std::vector<HighlightToken> highlight(std::string_view language, std::string_view code);
bool supports(std::string_view language);
} // namespace SyntaxHighlighter

} // namespace quorral::highlight
