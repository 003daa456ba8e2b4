#include "markdown/MarkdownSegmenter.h"

#include "text/Unicode.h"

namespace quorral::markdown::MarkdownSegmenter {
namespace {

bool isWhiteSpaceByte(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string joinLines(const std::vector<std::string_view> &lines)
{
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            joined += '\n';
        joined += lines[i];
    }
    return joined;
}

} // namespace

std::optional<std::string> openingFenceLanguage(std::string_view line)
{
    const auto trimmed = text::trimSpacesAndTabs(line);
    if (!trimmed.starts_with("```"))
        return std::nullopt;
    auto rest = trimmed.substr(3);
    // The first run of non-white-space characters after the backquotes.
    std::size_t begin = 0;
    while (begin < rest.size() && isWhiteSpaceByte(rest[begin]))
        ++begin;
    std::size_t end = begin;
    while (end < rest.size() && !isWhiteSpaceByte(rest[end]))
        ++end;
    return std::string(rest.substr(begin, end - begin));
}

std::vector<MarkdownSegment> split(std::string_view text)
{
    std::vector<MarkdownSegment> segments;
    if (text.empty())
        return segments;
    std::vector<std::string_view> prose, code;
    std::string language;
    bool inCode = false;
    const auto flushProse = [&] {
        auto joined = joinLines(prose);
        if (!joined.empty())
            segments.emplace_back(ProseSegment{std::move(joined)});
        prose.clear();
    };
    std::size_t start = 0;
    for (;;) {
        const auto feed = text.find('\n', start);
        const auto line = text.substr(start, feed == std::string_view::npos ? std::string_view::npos : feed - start);
        if (!inCode) {
            if (auto fence = openingFenceLanguage(line)) {
                flushProse();
                language = std::move(*fence);
                inCode = true;
                code.clear();
            } else {
                prose.push_back(line);
            }
        } else if (text::trimSpacesAndTabs(line) == "```") {
            segments.emplace_back(CodeSegment{std::move(language), joinLines(code)});
            language.clear();
            code.clear();
            inCode = false;
        } else {
            code.push_back(line);
        }
        if (feed == std::string_view::npos)
            break;
        start = feed + 1;
    }
    if (inCode)
        segments.emplace_back(CodeSegment{std::move(language), joinLines(code)});
    else
        flushProse();
    return segments;
}

} // namespace quorral::markdown::MarkdownSegmenter
