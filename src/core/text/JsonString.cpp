#include "text/JsonString.h"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
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

namespace {

// Bytes a JSON string cannot hold as they are: control characters, the quote, the backslash.
inline bool needsEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

#if defined(__SSE2__)
// One bit per byte of the 16 at `at` that needs an escape.
inline unsigned escapeMask(const char *at)
{
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
    // Bytes below 0x20: unsigned compare through min (min(c, 0x1F) == c).
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(chunk, _mm_set1_epi8(0x1F)), chunk);
    const __m128i special =
        _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('"')), _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\\')));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(control, special)));
}
#endif

// The offset of the first byte at or after `from` that needs an escape, or the size.
std::size_t nextEscape(std::string_view text, std::size_t from)
{
    std::size_t pos = from;
#if defined(__SSE2__)
    for (; pos + 16 <= text.size(); pos += 16)
        if (const unsigned mask = escapeMask(text.data() + pos))
            return pos + static_cast<unsigned>(__builtin_ctz(mask));
#endif
    while (pos < text.size() && !needsEscape(static_cast<unsigned char>(text[pos])))
        ++pos;
    return pos;
}

inline bool isLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// The length of the canonical escape at `pos` (a backslash), 0 when it is not one.
std::size_t canonicalEscapeLength(std::string_view raw, std::size_t pos)
{
    if (pos + 1 >= raw.size())
        return 0;
    switch (raw[pos + 1]) {
    case '"':
    case '\\':
    case 'n':
    case 'r':
    case 't': return 2;
    case 'u': {
        if (pos + 6 > raw.size() || raw[pos + 2] != '0' || raw[pos + 3] != '0' || (raw[pos + 4] != '0' && raw[pos + 4] != '1') ||
            !isLowerHex(raw[pos + 5]))
            return 0;
        const char last = raw[pos + 5];
        const bool hasShortForm = raw[pos + 4] == '0' && (last == '9' || last == 'a' || last == 'd');
        return hasShortForm ? 0 : 6;
    }
    default: return 0;
    }
}

} // namespace

void appendJsonEscaped(std::string &out, std::string_view text)
{
    static constexpr char hex[] = "0123456789abcdef";
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t clean = nextEscape(text, pos);
        out.append(text.data() + pos, clean - pos);
        if (clean >= text.size())
            break;
        const auto c = static_cast<unsigned char>(text[clean]);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
        pos = clean + 1;
    }
}

std::string jsonEscaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    appendJsonEscaped(out, text);
    return out;
}

#if defined(__SSE2__)
namespace {

// Bit i of each mask tells of byte i of the 64 at `at`.
struct EscapeMasks {
    std::uint64_t backslash = 0;
    std::uint64_t special = 0;   // a control character or the quote: only allowed escaped
    std::uint64_t mayFollow = 0; // what a backslash may escape: " \ n r t u
    std::uint64_t u = 0;
};

// The masks of the 64 bytes at `at`, 16 at a time.
struct Sse2Masks {
    EscapeMasks operator()(const char *at) const
    {
        EscapeMasks masks;
        for (int k = 0; k < 4; ++k) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 16 * k));
            const auto bits = [k](__m128i v) {
                return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(v))) << (16 * k);
            };
            const auto is = [&chunk](char c) { return _mm_cmpeq_epi8(chunk, _mm_set1_epi8(c)); };
            const __m128i backslash = is('\\'), quote = is('"'), u = is('u');
            const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(chunk, _mm_set1_epi8(0x1F)), chunk);
            const __m128i shortForm = _mm_or_si128(_mm_or_si128(is('n'), is('r')), is('t'));
            masks.backslash |= bits(backslash);
            masks.special |= bits(_mm_or_si128(quote, control));
            masks.mayFollow |= bits(_mm_or_si128(_mm_or_si128(shortForm, u), _mm_or_si128(quote, backslash)));
            masks.u |= bits(u);
        }
        return masks;
    }
};

#if defined(__x86_64__) || defined(__i386__)
#define QUORRAL_HAS_AVX2_PATH 1
// The same, 32 at a time, for processors that have AVX2.
struct Avx2Masks {
    __attribute__((target("avx2"))) EscapeMasks operator()(const char *at) const
    {
        EscapeMasks masks;
        for (int k = 0; k < 2; ++k) {
            const __m256i chunk = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at + 32 * k));
            const auto bits = [k](__m256i v) __attribute__((target("avx2"))) {
                return static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(v))) << (32 * k);
            };
            const auto is = [&chunk](char c) __attribute__((target("avx2"))) { return _mm256_cmpeq_epi8(chunk, _mm256_set1_epi8(c)); };
            const __m256i backslash = is('\\'), quote = is('"'), u = is('u');
            const __m256i control = _mm256_cmpeq_epi8(_mm256_min_epu8(chunk, _mm256_set1_epi8(0x1F)), chunk);
            const __m256i shortForm = _mm256_or_si256(_mm256_or_si256(is('n'), is('r')), is('t'));
            masks.backslash |= bits(backslash);
            masks.special |= bits(_mm256_or_si256(quote, control));
            masks.mayFollow |= bits(_mm256_or_si256(_mm256_or_si256(shortForm, u), _mm256_or_si256(quote, backslash)));
            masks.u |= bits(u);
        }
        return masks;
    }
};
#endif

// The bytes of a block that a backslash escapes, from its backslashes and whether its first
// byte is escaped from the block before; `carry` becomes the same for the next block. A
// run of backslashes escapes every second byte from its start: adding a run's start bit
// to the run carries out past its end, which flips the parity of the runs that begin on
// odd bits.
inline std::uint64_t escapedBytes(std::uint64_t backslash, bool &carry)
{
    constexpr std::uint64_t even = 0x5555555555555555ULL;
    const std::uint64_t carried = carry ? 1 : 0;
    backslash &= ~carried;
    const std::uint64_t follows = (backslash << 1) | carried;
    const std::uint64_t oddStarts = backslash & ~even & ~follows;
    std::uint64_t sum = 0;
    carry = __builtin_add_overflow(oddStarts, backslash, &sum);
    return (even ^ (sum << 1)) & follows;
}

template <typename Masks>
[[gnu::always_inline]] inline bool isCanonicalByBlocks(std::string_view raw, Masks masksOf)
{
    bool carry = false;
    for (std::size_t pos = 0; pos < raw.size(); pos += 64) {
        const char *block = raw.data() + pos;
        char tail[64];
        if (raw.size() - pos < 64) {
            // 'a' may stand unescaped but is no escape: a lone backslash at the end fails.
            std::memset(tail, 'a', sizeof tail);
            std::memcpy(tail, block, raw.size() - pos);
            block = tail;
        }
        const auto masks = masksOf(block);
        const std::uint64_t escaped = escapedBytes(masks.backslash, carry);
        if ((escaped & ~masks.mayFollow) != 0 || (masks.special & ~escaped) != 0)
            return false;
        for (std::uint64_t us = escaped & masks.u; us != 0; us &= us - 1)
            if (canonicalEscapeLength(raw, pos + static_cast<unsigned>(__builtin_ctzll(us)) - 1) != 6)
                return false;
    }
    return !carry;
}

#ifdef QUORRAL_HAS_AVX2_PATH
__attribute__((target("avx2"))) bool isCanonicalAvx2(std::string_view raw)
{
    return isCanonicalByBlocks(raw, Avx2Masks{});
}
#endif

} // namespace

bool isCanonicalJsonEscaped(std::string_view raw)
{
#ifdef QUORRAL_HAS_AVX2_PATH
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        return isCanonicalAvx2(raw);
#endif
    return detail::isCanonicalJsonEscapedNarrow(raw);
}

bool detail::isCanonicalJsonEscapedNarrow(std::string_view raw) { return isCanonicalByBlocks(raw, Sse2Masks{}); }
#else
bool detail::isCanonicalJsonEscapedNarrow(std::string_view raw)
{
    for (std::size_t pos = 0; pos < raw.size(); ++pos) {
        if (!needsEscape(static_cast<unsigned char>(raw[pos])))
            continue;
        const std::size_t length = raw[pos] == '\\' ? canonicalEscapeLength(raw, pos) : 0;
        if (length == 0)
            return false; // a raw control character or quote, or another escape
        pos += length - 1;
    }
    return true;
}

bool isCanonicalJsonEscaped(std::string_view raw) { return detail::isCanonicalJsonEscapedNarrow(raw); }
#endif

bool startsEscapedCharacter(std::string_view escaped, std::size_t pos)
{
    // A backslash right before `pos` that itself begins an escape (an even number of
    // backslashes before it) means `pos` is the escape's second byte.
    const auto beginsEscape = [&](std::size_t backslash) {
        std::size_t before = 0;
        while (before < backslash && escaped[backslash - 1 - before] == '\\')
            ++before;
        return before % 2 == 0;
    };
    if (pos > 0 && escaped[pos - 1] == '\\' && beginsEscape(pos - 1))
        return false;
    // The four digits of a "\u00xx" escape.
    for (std::size_t back = 2; back <= 5 && back <= pos; ++back)
        if (escaped[pos - back] == '\\' && escaped[pos - back + 1] == 'u' && beginsEscape(pos - back))
            return false;
    return true;
}

} // namespace quorral::text
