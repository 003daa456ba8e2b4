#include "text/JsonString.h"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorral::text {

std::optional<std::string_view> jsonStringContent(std::string_view token)
{
    while (!token.empty() && (token.back() == ' ' || token.back() == '\n' || token.back() == '\r' || token.back() == '\t'))
        token.remove_suffix(1);
    if (token.size() < 2 || token.front() != '"' || token.back() != '"')
        return std::nullopt;
    return token.substr(1, token.size() - 2);
}

// Decodes the escapes of a JSON string's raw content into `out`; false on a bad escape.
bool unescapeJsonString(std::string_view raw, char *out, std::size_t &written)
{
    const auto hex4 = [&](std::size_t at, std::uint32_t &value) {
        if (at + 4 > raw.size())
            return false;
        value = 0;
        for (std::size_t i = at; i < at + 4; ++i) {
            const char c = raw[i];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    };
    written = 0;
    std::size_t pos = 0;
    while (pos < raw.size()) {
        // Copy up to the next backslash, 16 bytes at a time where possible.
#if defined(__SSE2__)
        const __m128i backslash = _mm_set1_epi8('\\');
        while (pos + 16 <= raw.size()) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(raw.data() + pos));
            const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, backslash)));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + written), chunk);
            const unsigned clean = mask ? static_cast<unsigned>(__builtin_ctz(mask)) : 16u;
            pos += clean;
            written += clean;
            if (mask)
                break;
        }
#endif
        while (pos < raw.size() && raw[pos] != '\\')
            out[written++] = raw[pos++];
        if (pos >= raw.size())
            break;
        if (pos + 1 >= raw.size())
            return false;
        const char kind = raw[pos + 1];
        pos += 2;
        switch (kind) {
        case '"': out[written++] = '"'; break;
        case '\\': out[written++] = '\\'; break;
        case '/': out[written++] = '/'; break;
        case 'b': out[written++] = '\b'; break;
        case 'f': out[written++] = '\f'; break;
        case 'n': out[written++] = '\n'; break;
        case 'r': out[written++] = '\r'; break;
        case 't': out[written++] = '\t'; break;
        case 'u': {
            std::uint32_t cp = 0;
            if (!hex4(pos, cp))
                return false;
            pos += 4;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                std::uint32_t low = 0;
                if (pos + 6 > raw.size() || raw[pos] != '\\' || raw[pos + 1] != 'u' || !hex4(pos + 2, low) ||
                    low < 0xDC00 || low > 0xDFFF)
                    return false;
                pos += 6;
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                return false;
            }
            if (cp < 0x80) {
                out[written++] = static_cast<char>(cp);
            } else if (cp < 0x800) {
                out[written++] = static_cast<char>(0xC0 | (cp >> 6));
                out[written++] = static_cast<char>(0x80 | (cp & 0x3F));
            } else if (cp < 0x10000) {
                out[written++] = static_cast<char>(0xE0 | (cp >> 12));
                out[written++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                out[written++] = static_cast<char>(0x80 | (cp & 0x3F));
            } else {
                out[written++] = static_cast<char>(0xF0 | (cp >> 18));
                out[written++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
                out[written++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                out[written++] = static_cast<char>(0x80 | (cp & 0x3F));
            }
            break;
        }
        default: return false;
        }
    }
    return true;
}

} // namespace quorral::text
