#include "text/DisplayWidth.h"

#include <utf8proc.h>

namespace quorral::text {
namespace {

// The next code point's length in bytes and width in cells; an invalid byte is one of each.
std::pair<std::size_t, std::size_t> nextCharacter(std::string_view text, std::size_t at)
{
    utf8proc_int32_t codePoint = 0;
    const auto length = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t *>(text.data() + at),
                                         static_cast<utf8proc_ssize_t>(text.size() - at), &codePoint);
    if (length <= 0)
        return {1, 1};
    const int width = utf8proc_charwidth(codePoint);
    return {static_cast<std::size_t>(length), static_cast<std::size_t>(width < 0 ? 0 : width)};
}

} // namespace

std::size_t displayWidth(std::string_view text)
{
    std::size_t cells = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto [length, width] = nextCharacter(text, at);
        cells += width;
        at += length;
    }
    return cells;
}

std::string fitToCells(std::string_view text, std::size_t cells)
{
    if (cells == 0)
        return {};
    if (const auto width = displayWidth(text); width <= cells)
        return std::string(text) + std::string(cells - width, ' ');
    // Room for the ellipsis (one cell) is kept; a wide character that does not fit is left out whole.
    std::size_t used = 0, at = 0;
    while (at < text.size()) {
        const auto [length, width] = nextCharacter(text, at);
        if (used + width > cells - 1)
            break;
        used += width;
        at += length;
    }
    // Zero-width marks that follow belong to the last character kept.
    while (at < text.size()) {
        const auto [length, width] = nextCharacter(text, at);
        if (width != 0)
            break;
        at += length;
    }
    return std::string(text.substr(0, at)) + "…" + std::string(cells - 1 - used, ' ');
}

} // namespace quorral::text
