#include "scan/NoiseFilter.h"

#include "text/Unicode.h"

#include <algorithm>

namespace quorral::scan {
namespace {

constexpr std::string_view fence = "```";

// Replaces every fenced block by "[lang code]" and cuts an unterminated block off.
void collapseCodeBlocks(std::string &text)
{
    std::size_t from = 0;
    while (true) {
        const auto open = text.find(fence, from);
        if (open == std::string::npos)
            return;
        const auto close = text.find(fence, open + fence.size());
        if (close == std::string::npos) {
            text.resize(open);
            return;
        }
        const auto blockEnd = close + fence.size();
        const std::string_view block(text.data() + open, blockEnd - open);
        std::string_view firstLine = block.substr(0, block.find('\n'));
        std::string language;
        while (!firstLine.empty()) {
            const auto at = firstLine.find(fence);
            language.append(firstLine.substr(0, at));
            if (at == std::string_view::npos)
                break;
            firstLine.remove_prefix(at + fence.size());
        }
        const auto name = text::trimSpacesAndTabs(language);
        std::string replacement = name.empty() ? std::string("[code]") : "[" + std::string(name) + " code]";
        text.replace(open, blockEnd - open, replacement);
        // Nothing before `open` holds a fence, so the next search can start there.
        from = open;
    }
}

bool isPathLine(std::string_view line)
{
    const auto trimmed = text::trimSpacesAndTabs(line);
    return trimmed.starts_with("/") || trimmed.starts_with("./") || trimmed.starts_with("├")
        || trimmed.starts_with("└") || trimmed.starts_with("│");
}

std::string morePathsLine(std::size_t runCount)
{
    return "[... " + std::to_string(runCount - keptPathLinesPerRun) + " more paths]";
}

// Keeps the first two lines of every run of path or tree lines and notes how many went.
std::string collapsePathRuns(std::string_view text)
{
    // Most messages hold no long run: find out first, and return the text unchanged.
    std::size_t run = 0;
    bool anyLongRun = false;
    for (std::size_t pos = 0; pos <= text.size() && !anyLongRun;) {
        auto end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        run = isPathLine(text.substr(pos, end - pos)) ? run + 1 : 0;
        anyLongRun = run > keptPathLinesPerRun;
        pos = end + 1;
    }
    if (!anyLongRun)
        return std::string(text);

    std::string out;
    out.reserve(text.size());
    bool firstKept = true;
    auto keep = [&](std::string_view line) {
        if (!firstKept)
            out += '\n';
        out.append(line);
        firstKept = false;
    };
    run = 0;
    for (std::size_t pos = 0; pos <= text.size();) {
        auto end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const auto line = text.substr(pos, end - pos);
        if (isPathLine(line)) {
            ++run;
            if (run <= keptPathLinesPerRun)
                keep(line);
        } else {
            if (run > keptPathLinesPerRun)
                keep(morePathsLine(run));
            keep(line);
            run = 0;
        }
        pos = end + 1;
    }
    if (run > keptPathLinesPerRun)
        keep(morePathsLine(run));
    return out;
}

bool isAtLeastMinimumLength(std::string_view s)
{
    return text::graphemeCount(s, minimumMessageLength) >= minimumMessageLength;
}

} // namespace

std::string filterNoiseFromMessage(std::string_view text, std::string_view role)
{
    const auto trimmed = text::trimWhitespace(text);
    if (!isAtLeastMinimumLength(trimmed))
        return {};
    if (trimmed.starts_with('<') && trimmed.find("command") != std::string_view::npos)
        return {};
    if (role == "assistant" && text::graphemeCount(trimmed, shortAssistantMessageLength) < shortAssistantMessageLength
        && std::any_of(assistantNoisePatterns.begin(), assistantNoisePatterns.end(),
                       [&](std::string_view p) { return trimmed.find(p) != std::string_view::npos; }))
        return {};

    std::string working(trimmed);
    collapseCodeBlocks(working);
    std::string collapsed = collapsePathRuns(working);
    const auto result = text::trimWhitespace(collapsed);
    if (!isAtLeastMinimumLength(result))
        return {};
    if (result.size() == collapsed.size())
        return collapsed;
    return std::string(result);
}

} // namespace quorral::scan
