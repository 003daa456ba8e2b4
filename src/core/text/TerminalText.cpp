#include "text/TerminalText.h"

#include <utf8proc.h>

namespace quorral::text {
namespace {

constexpr char hexDigits[] = "0123456789abcdef";

void appendEscape(std::string &out, std::string_view prefix, unsigned value)
{
    out += prefix;
    out += hexDigits[(value >> 4) & 0xF];
    out += hexDigits[value & 0xF];
}

bool isAsciiControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

} // namespace

std::string escapeForTerminal(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    const auto *bytes = reinterpret_cast<const utf8proc_uint8_t *>(text.data());
    const auto size = static_cast<utf8proc_ssize_t>(text.size());
    utf8proc_ssize_t pos = 0;
    while (pos < size) {
        const unsigned char c = bytes[pos];
        if (c < 0x80) {
            const bool keep = !isAsciiControl(c) || c == '\n' || c == '\t' ||
                              (c == '\r' && pos + 1 < size && bytes[pos + 1] == '\n');
            if (keep)
                out += static_cast<char>(c);
            else
                appendEscape(out, "\\u00", c);
            ++pos;
            continue;
        }
        utf8proc_int32_t cp = 0;
        const utf8proc_ssize_t length = utf8proc_iterate(bytes + pos, size - pos, &cp);
        if (length <= 0) {
            appendEscape(out, "\\x", c);
            ++pos;
        } else if (cp <= 0x9F) {
            appendEscape(out, "\\u00", static_cast<unsigned>(cp));
            pos += length;
        } else {
            out.append(text.data() + pos, static_cast<std::size_t>(length));
            pos += length;
        }
    }
    return out;
}

} // namespace quorral::text
