#include "store/TextSearch.h"

#include "text/Unicode.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorral::store {
namespace {

inline unsigned char foldAscii(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

inline bool isLowerLetter(unsigned char c) { return c >= 'a' && c <= 'z'; }

inline bool equalFolded(const char *text, std::string_view needle)
{
    for (std::size_t i = 0; i < needle.size(); ++i)
        if (foldAscii(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(needle[i]))
            return false;
    return true;
}

} // namespace

bool containsAsciiFolded(std::string_view text, std::string_view needle)
{
    if (needle.empty())
        return true;
    if (text.size() < needle.size())
        return false;
    const auto first = static_cast<unsigned char>(needle.front());
    const auto last = static_cast<unsigned char>(needle.back());
    const std::size_t lastOffset = needle.size() - 1;
    const std::size_t candidates = text.size() - needle.size() + 1; // start positions
    const char *data = text.data();
    std::size_t pos = 0;
#if defined(__SSE2__)
    // Tests 16 start positions at once on the needle's first and last byte. A lower-case
    // letter matches both cases with one compare: (byte | 0x20) is 'a' only for 'a' and 'A'.
    const __m128i firstValue = _mm_set1_epi8(static_cast<char>(first));
    const __m128i lastValue = _mm_set1_epi8(static_cast<char>(last));
    const __m128i firstCase = _mm_set1_epi8(isLowerLetter(first) ? 0x20 : 0);
    const __m128i lastCase = _mm_set1_epi8(isLowerLetter(last) ? 0x20 : 0);
    for (; pos + 16 <= candidates; pos += 16) {
        const __m128i atFirst = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + pos));
        const __m128i atLast = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + pos + lastOffset));
        const __m128i hits = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(atFirst, firstCase), firstValue),
                                           _mm_cmpeq_epi8(_mm_or_si128(atLast, lastCase), lastValue));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        while (mask != 0) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
            if (equalFolded(data + pos + bit, needle))
                return true;
            mask &= mask - 1;
        }
    }
#endif
    for (; pos < candidates; ++pos)
        if (foldAscii(static_cast<unsigned char>(data[pos])) == first && equalFolded(data + pos, needle))
            return true;
    return false;
}

SearchKey SearchKey::of(std::string_view searchableText)
{
    if (!text::lowerCaseChangesNonAscii(searchableText))
        return {};
    return {text::toLower(searchableText), true};
}

bool SearchKey::matches(std::string_view searchableText, std::string_view loweredQuery) const
{
    if (usesLoweredCopy)
        return std::string_view(lowered).find(loweredQuery) != std::string_view::npos;
    return containsAsciiFolded(searchableText, loweredQuery);
}

} // namespace quorral::store
