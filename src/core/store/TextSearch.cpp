#include "store/TextSearch.h"

#include "text/JsonString.h"
#include "text/Unicode.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utf8proc.h>
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

std::size_t findAsciiFolded(std::string_view text, std::string_view needle, std::size_t from)
{
    if (needle.empty())
        return from <= text.size() ? from : std::string_view::npos;
    if (from >= text.size() || text.size() - from < needle.size())
        return std::string_view::npos;
    const auto first = static_cast<unsigned char>(needle.front());
    const auto last = static_cast<unsigned char>(needle.back());
    const std::size_t lastOffset = needle.size() - 1;
    const std::size_t candidates = text.size() - needle.size() + 1; // start positions
    const char *data = text.data();
    std::size_t pos = from;
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
                return pos + bit;
            mask &= mask - 1;
        }
    }
#endif
    for (; pos < candidates; ++pos)
        if (foldAscii(static_cast<unsigned char>(data[pos])) == first && equalFolded(data + pos, needle))
            return pos;
    return std::string_view::npos;
}

bool containsAsciiFolded(std::string_view text, std::string_view needle)
{
    return findAsciiFolded(text, needle, 0) != std::string_view::npos;
}

namespace {

// Anywhere in a text kept as itself; in an escaped text only where a character begins
// (the "n" of an escaped line feed is no "n").
inline bool mayBeginAt(std::string_view text, std::size_t pos, const SearchQuery &query)
{
    return !query.jsonEscaped || text::startsEscapedCharacter(text, pos);
}

bool containsAsciiFolded(std::string_view text, const SearchQuery &query)
{
    for (std::size_t at = findAsciiFolded(text, query.lowered, 0); at != std::string_view::npos;
         at = findAsciiFolded(text, query.lowered, at + 1))
        if (mayBeginAt(text, at, query))
            return true;
    return false;
}

// Code points that lower-case to something else, grouped by what they lower-case to.
const std::unordered_map<utf8proc_int32_t, std::vector<utf8proc_int32_t>> &upperCasesByLower()
{
    static const auto table = [] {
        std::unordered_map<utf8proc_int32_t, std::vector<utf8proc_int32_t>> map;
        for (utf8proc_int32_t cp = 0; cp <= 0x10FFFF; ++cp) {
            if (cp >= 0xD800 && cp <= 0xDFFF)
                continue;
            const auto lower = utf8proc_tolower(cp);
            if (lower != cp)
                map[lower].push_back(cp);
        }
        return map;
    }();
    return table;
}

unsigned char firstByteOf(utf8proc_int32_t cp)
{
    utf8proc_uint8_t encoded[4];
    utf8proc_encode_char(cp, encoded);
    return encoded[0];
}

// The code point at `pos` (an invalid byte stands for itself, as a negative value) and its length.
std::pair<utf8proc_int32_t, std::size_t> codePointAt(std::string_view text, std::size_t pos)
{
    const auto c = static_cast<unsigned char>(text[pos]);
    if (c < 0x80)
        return {c, 1};
    utf8proc_int32_t cp = 0;
    const auto len = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t *>(text.data() + pos),
                                      static_cast<utf8proc_ssize_t>(text.size() - pos), &cp);
    if (len <= 0)
        return {-static_cast<utf8proc_int32_t>(c), 1};
    return {cp, static_cast<std::size_t>(len)};
}

// Character by character from `pos`: does the lower-cased text continue with the query?
bool matchesFoldedAt(std::string_view text, std::size_t pos, const SearchQuery &query)
{
    for (const auto want : query.codePoints) {
        if (pos >= text.size())
            return false;
        const auto [cp, len] = codePointAt(text, pos);
        if ((cp >= 0 ? utf8proc_tolower(cp) : cp) != want)
            return false;
        pos += len;
    }
    return true;
}

bool containsFolded(std::string_view text, const SearchQuery &query)
{
    if (query.codePoints.empty())
        return true;
    const char *data = text.data();
    std::size_t pos = 0;
#if defined(__SSE2__)
    // Candidate starts: bytes a matching character can begin with, 16 at a time.
    __m128i wanted[8];
    // Few characters share one lower case; past eight the scalar loop below checks them all.
    const std::size_t wantedCount = query.firstBytes.size() <= 8 ? query.firstBytes.size() : 0;
    for (std::size_t i = 0; i < wantedCount; ++i)
        wanted[i] = _mm_set1_epi8(static_cast<char>(query.firstBytes[i]));
    for (; wantedCount > 0 && pos + 16 <= text.size(); pos += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + pos));
        __m128i hits = _mm_setzero_si128();
        for (std::size_t i = 0; i < wantedCount; ++i)
            hits = _mm_or_si128(hits, _mm_cmpeq_epi8(chunk, wanted[i]));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        while (mask != 0) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
            if (matchesFoldedAt(text, pos + bit, query) && mayBeginAt(text, pos + bit, query))
                return true;
            mask &= mask - 1;
        }
    }
#endif
    for (; pos < text.size(); ++pos) {
        const auto byte = static_cast<unsigned char>(data[pos]);
        if (std::find(query.firstBytes.begin(), query.firstBytes.end(), byte) != query.firstBytes.end() &&
            matchesFoldedAt(text, pos, query) && mayBeginAt(text, pos, query))
            return true;
    }
    return false;
}

// The query's anchor can only come from the same bytes of the text here (ASCII letters
// in either case), so its occurrences are the only places a match can lie around.
bool containsFoldedAroundAnchor(std::string_view text, const SearchQuery &query)
{
    for (std::size_t at = findAsciiFolded(text, query.anchor, 0); at != std::string_view::npos;
         at = findAsciiFolded(text, query.anchor, at + 1)) {
        // Step back over the characters that come before the anchor in the query.
        std::size_t start = at;
        std::size_t steps = 0;
        while (steps < query.codePointsBeforeAnchor && start > 0) {
            --start;
            while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
                --start;
            ++steps;
        }
        if (steps == query.codePointsBeforeAnchor && matchesFoldedAt(text, start, query) && mayBeginAt(text, start, query))
            return true;
    }
    return false;
}

} // namespace

SearchQuery SearchQuery::of(std::string_view loweredQuery)
{
    SearchQuery query;
    query.lowered = std::string(loweredQuery);
    for (std::size_t pos = 0; pos < loweredQuery.size();) {
        const auto [cp, len] = codePointAt(loweredQuery, pos);
        query.codePoints.push_back(cp);
        query.ascii = query.ascii && cp >= 0 && cp < 0x80;
        pos += len;
    }
    // The longest run of characters only their own bytes can match, to anchor the
    // character-by-character comparison.
    const auto anchors = [](utf8proc_int32_t cp) { return cp >= 0 && (cp < 0x80 || !upperCasesByLower().contains(cp)); };
    std::size_t bestStart = 0, bestLength = 0, bestByte = 0, bestBytes = 0;
    for (std::size_t i = 0, byte = 0, runStart = 0, runByte = 0; i <= query.codePoints.size(); ++i) {
        if (i == query.codePoints.size() || !anchors(query.codePoints[i])) {
            if (byte - runByte > bestBytes) {
                bestStart = runStart;
                bestLength = i - runStart;
                bestByte = runByte;
                bestBytes = byte - runByte;
            }
            if (i == query.codePoints.size())
                break;
            byte += codePointAt(loweredQuery, byte).second;
            runStart = i + 1;
            runByte = byte;
            continue;
        }
        byte += codePointAt(loweredQuery, byte).second;
    }
    if (bestLength > 0) {
        query.anchor = query.lowered.substr(bestByte, bestBytes);
        query.codePointsBeforeAnchor = bestStart;
    }
    for (const auto cp : query.codePoints)
        if (cp >= 0x80 && upperCasesByLower().contains(cp))
            query.hasCasedNonAscii = true;
    if (!query.codePoints.empty()) {
        const auto first = query.codePoints.front();
        const auto addByte = [&](unsigned char b) {
            if (std::find(query.firstBytes.begin(), query.firstBytes.end(), b) == query.firstBytes.end())
                query.firstBytes.push_back(b);
        };
        addByte(first >= 0 ? firstByteOf(first) : static_cast<unsigned char>(-first));
        if (first >= 0)
            if (const auto found = upperCasesByLower().find(first); found != upperCasesByLower().end())
                for (const auto upper : found->second)
                    addByte(firstByteOf(upper));
    }
    return query;
}

SearchQuery SearchQuery::jsonEscapedOf(std::string_view loweredQuery)
{
    // Escapes are ASCII and lower-case, so escaping and lower-casing can come in either order.
    auto query = of(text::jsonEscaped(loweredQuery));
    query.jsonEscaped = true;
    return query;
}

SearchQueries SearchQueries::of(std::string_view loweredQuery)
{
    return {SearchQuery::of(loweredQuery), SearchQuery::jsonEscapedOf(loweredQuery)};
}

SearchKey SearchKey::of(const conversation::SharedText &searchableText)
{
    // Escapes are ASCII: the escaped form has the same letters beyond ASCII as the text.
    const auto stored = searchableText.stored();
    SearchKey key;
    key.lowerCaseChangesNonAscii = text::lowerCaseChangesNonAscii(stored);
    if (key.lowerCaseChangesNonAscii)
        key.nonAsciiLowersToAscii = text::nonAsciiLowersToAscii(stored);
    return key;
}

bool SearchKey::matches(const conversation::SharedText &searchableText, const SearchQueries &queries) const
{
    const auto text = searchableText.stored();
    const SearchQuery &query = queries.forText(searchableText);
    // Folding ASCII letters on the fly is exact unless the text has other characters that
    // change case and the query holds one they can lower-case to (or, for its ASCII part,
    // one of them lower-cases into ASCII).
    if (!lowerCaseChangesNonAscii || (!query.hasCasedNonAscii && !nonAsciiLowersToAscii))
        return containsAsciiFolded(text, query);
    if (!query.anchor.empty() && !nonAsciiLowersToAscii)
        return containsFoldedAroundAnchor(text, query);
    return containsFolded(text, query);
}

} // namespace quorral::store
