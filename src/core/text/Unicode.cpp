#include "text/Unicode.h"

#include <utf8proc.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quorral::text {
namespace {

// Walks grapheme clusters and calls `atBoundary(byteOffset, clustersSoFar)` at every
// cluster start after the first; stops when it returns false.
template <typename F>
void forEachBoundary(std::string_view s, F &&atBoundary)
{
    const auto *bytes = reinterpret_cast<const utf8proc_uint8_t *>(s.data());
    const auto size = static_cast<utf8proc_ssize_t>(s.size());
    utf8proc_ssize_t pos = 0;
    utf8proc_int32_t previous = -1;
    utf8proc_int32_t state = 0;
    std::size_t clusters = 0;
    while (pos < size) {
        // ASCII after ASCII (or after an invalid byte, or first): a new cluster unless it is
        // the LF of a CR LF. The break state after an ASCII character depends on that
        // character alone, which is what a cleared state stands for.
        if (bytes[pos] < 0x80 && previous < 0x80) {
            const utf8proc_int32_t cp = bytes[pos];
            if (pos > 0 && !(previous == '\r' && cp == '\n')) {
                ++clusters;
                if (!atBoundary(static_cast<std::size_t>(pos), clusters))
                    return;
            }
            state = 0;
            previous = cp;
            ++pos;
            continue;
        }
        utf8proc_int32_t cp = 0;
        utf8proc_ssize_t len = 1;
        if (bytes[pos] < 0x80) {
            cp = bytes[pos];
        } else {
            len = utf8proc_iterate(bytes + pos, size - pos, &cp);
            if (len <= 0) {
                // An invalid byte stands alone.
                len = 1;
                cp = -1;
            }
        }
        bool breakHere = true;
        if (previous >= 0 && cp >= 0)
            breakHere = utf8proc_grapheme_break_stateful(previous, cp, &state);
        else
            state = 0;
        if (pos > 0 && breakHere) {
            ++clusters;
            if (!atBoundary(static_cast<std::size_t>(pos), clusters))
                return;
        }
        previous = cp;
        pos += len;
    }
}

bool isUnicodeWhitespace(utf8proc_int32_t cp)
{
    if (cp == ' ' || (cp >= 0x09 && cp <= 0x0D) || cp == 0x85 || cp == 0x2028 || cp == 0x2029)
        return true;
    if (cp < 0x80)
        return false;
    return utf8proc_category(cp) == UTF8PROC_CATEGORY_ZS;
}

bool isLineBreak(utf8proc_int32_t cp)
{
    return (cp >= 0x0A && cp <= 0x0D) || cp == 0x85 || cp == 0x2028 || cp == 0x2029;
}

// Drops leading and trailing code points for which `trimmed` holds; stops at an invalid byte.
template <typename Predicate>
std::string_view trimCodePoints(std::string_view s, Predicate trimmed)
{
    const auto *bytes = reinterpret_cast<const utf8proc_uint8_t *>(s.data());
    std::size_t begin = 0;
    while (begin < s.size()) {
        utf8proc_int32_t cp = 0;
        const auto len = utf8proc_iterate(bytes + begin, static_cast<utf8proc_ssize_t>(s.size() - begin), &cp);
        if (len <= 0 || !trimmed(cp))
            break;
        begin += static_cast<std::size_t>(len);
    }
    std::size_t end = s.size();
    while (end > begin) {
        // Step back to the start of the last code point.
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80)
            --start;
        utf8proc_int32_t cp = 0;
        const auto len = utf8proc_iterate(bytes + start, static_cast<utf8proc_ssize_t>(end - start), &cp);
        if (len <= 0 || static_cast<std::size_t>(len) != end - start || !trimmed(cp))
            break;
        end = start;
    }
    return s.substr(begin, end - begin);
}

} // namespace

std::size_t graphemeCount(std::string_view s, std::size_t limit)
{
    if (s.empty())
        return 0;
    if (limit == 0)
        return 1; // one character already exceeds it
    // Pure ASCII without CR is one cluster per byte; CR LF is the one ASCII pair that joins.
    bool simple = true;
    for (unsigned char c : s) {
        if (c >= 0x80 || c == '\r') {
            simple = false;
            break;
        }
    }
    if (simple)
        return s.size() > limit ? limit + 1 : s.size();

    std::size_t count = 1;
    forEachBoundary(s, [&](std::size_t, std::size_t clusters) {
        count = clusters + 1;
        return count <= limit;
    });
    return count;
}

std::size_t graphemePrefixLength(std::string_view s, std::size_t n)
{
    if (n == 0)
        return 0;
    std::size_t result = s.size();
    forEachBoundary(s, [&](std::size_t offset, std::size_t clusters) {
        if (clusters == n) {
            result = offset;
            return false;
        }
        return true;
    });
    return result;
}

std::string_view trimWhitespace(std::string_view s)
{
    return trimCodePoints(s, isUnicodeWhitespace);
}

std::string_view trimLineBreaks(std::string_view s)
{
    return trimCodePoints(s, isLineBreak);
}

std::string_view trimSpacesAndTabs(std::string_view s)
{
    const auto begin = s.find_first_not_of(" \t");
    if (begin == std::string_view::npos)
        return {};
    const auto end = s.find_last_not_of(" \t");
    return s.substr(begin, end - begin + 1);
}

std::string toLower(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    const auto *bytes = reinterpret_cast<const utf8proc_uint8_t *>(s.data());
    std::size_t pos = 0;
    while (pos < s.size()) {
        const auto c = static_cast<unsigned char>(s[pos]);
        if (c < 0x80) {
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            ++pos;
            continue;
        }
        utf8proc_int32_t cp = 0;
        const auto len = utf8proc_iterate(bytes + pos, static_cast<utf8proc_ssize_t>(s.size() - pos), &cp);
        if (len <= 0) {
            out += static_cast<char>(c);
            ++pos;
            continue;
        }
        utf8proc_uint8_t encoded[4];
        const auto written = utf8proc_encode_char(utf8proc_tolower(cp), encoded);
        out.append(reinterpret_cast<const char *>(encoded), static_cast<std::size_t>(written));
        pos += static_cast<std::size_t>(len);
    }
    return out;
}

namespace {

// Whether `test` holds for some non-ASCII code point of `s` (invalid bytes are skipped).
template <typename Test>
bool anyNonAsciiCodePoint(std::string_view s, Test test)
{
    const auto *bytes = reinterpret_cast<const utf8proc_uint8_t *>(s.data());
    std::size_t pos = 0;
    while (pos < s.size()) {
        // Skip ASCII eight bytes at a time.
        while (pos + 8 <= s.size()) {
            std::uint64_t word;
            std::memcpy(&word, s.data() + pos, 8);
            if (word & 0x8080808080808080ull)
                break;
            pos += 8;
        }
        if (pos >= s.size())
            break;
        if (static_cast<unsigned char>(s[pos]) < 0x80) {
            ++pos;
            continue;
        }
        utf8proc_int32_t cp = 0;
        const auto len = utf8proc_iterate(bytes + pos, static_cast<utf8proc_ssize_t>(s.size() - pos), &cp);
        if (len <= 0) {
            ++pos;
            continue;
        }
        if (test(cp))
            return true;
        pos += static_cast<std::size_t>(len);
    }
    return false;
}

} // namespace

namespace {

// Per code point of the Basic Multilingual Plane, once: does lower-casing change it?
// (utf8proc's property lookup is slow for long texts.)
struct LowerCaseTable {
    std::vector<bool> changes = std::vector<bool>(0x10000);
    LowerCaseTable()
    {
        for (utf8proc_int32_t cp = 0x80; cp < 0x10000; ++cp) {
            if (cp >= 0xD800 && cp <= 0xDFFF)
                continue;
            changes[static_cast<std::size_t>(cp)] = utf8proc_tolower(cp) != cp;
        }
    }
};

const LowerCaseTable &lowerCaseTable()
{
    static const LowerCaseTable table;
    return table;
}

} // namespace

bool lowerCaseChangesNonAscii(std::string_view s)
{
    const auto &table = lowerCaseTable();
    return anyNonAsciiCodePoint(s, [&](utf8proc_int32_t cp) {
        return cp < 0x10000 ? table.changes[static_cast<std::size_t>(cp)] : utf8proc_tolower(cp) != cp;
    });
}

bool nonAsciiLowersToAscii(std::string_view s)
{
    // Only a handful of characters do (dotted capital I, the Kelvin sign): look for their bytes.
    static const std::vector<std::string> encodings = [] {
        std::vector<std::string> list;
        for (utf8proc_int32_t cp = 0x80; cp <= 0x10FFFF; ++cp) {
            if ((cp < 0xD800 || cp > 0xDFFF) && utf8proc_tolower(cp) < 0x80) {
                utf8proc_uint8_t encoded[4];
                const auto length = utf8proc_encode_char(cp, encoded);
                list.emplace_back(reinterpret_cast<const char *>(encoded), static_cast<std::size_t>(length));
            }
        }
        return list;
    }();
    for (const auto &encoding : encodings)
        if (s.find(encoding) != std::string_view::npos)
            return true;
    return false;
}

bool isValidUtf8Short(std::string_view s)
{
    const auto *bytes = reinterpret_cast<const utf8proc_uint8_t *>(s.data());
    auto left = static_cast<utf8proc_ssize_t>(s.size());
    while (left > 0) {
        utf8proc_int32_t codePoint = 0;
        const utf8proc_ssize_t length = utf8proc_iterate(bytes, left, &codePoint);
        if (length <= 0 || codePoint < 0)
            return false;
        bytes += length;
        left -= length;
    }
    return true;
}

} // namespace quorral::text
