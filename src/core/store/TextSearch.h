#pragma once

#include "conversation/Model.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorral::store {

// Whether `text` contains `needle` when ASCII letters are compared without case. `needle`
// must already be lower-case.
bool containsAsciiFolded(std::string_view text, std::string_view needle);
// Where the first such match at or after `from` begins, npos when there is none.
std::size_t findAsciiFolded(std::string_view text, std::string_view needle, std::size_t from);

// A search query, lower-cased once per keystroke, in the form of the texts it is for.
struct SearchQuery {
    std::string lowered; // escaped too for JSON-escaped texts
    bool jsonEscaped = false;
    std::vector<std::int32_t> codePoints; // of `lowered`
    bool ascii = true;
    // Every byte a text character can begin with when it lower-cases to the query's first
    // character ("K", "k" and the Kelvin sign's first byte for "k").
    std::vector<unsigned char> firstBytes;
    // A character beyond ASCII that other characters lower-case to ("ü", not "日").
    bool hasCasedNonAscii = false;
    // The longest run of characters that a text can only match with the same bytes (ASCII
    // letters aside, which match either case), and how many characters come before it:
    // ASCII, and the characters beyond it that nothing else lower-cases to ("日", not "é").
    std::string anchor;
    std::size_t codePointsBeforeAnchor = 0;

    static SearchQuery of(std::string_view loweredQuery);
    static SearchQuery jsonEscapedOf(std::string_view loweredQuery);
};

// A keystroke's query for texts kept as themselves and for texts kept JSON-escaped.
struct SearchQueries {
    SearchQuery plain;
    SearchQuery jsonEscaped;

    static SearchQueries of(std::string_view loweredQuery);
    const SearchQuery &forText(const conversation::SharedText &text) const
    {
        return text.isJsonEscaped() ? jsonEscaped : plain;
    }
};

// What a summary's text needs for an exact search: "lower-case both sides, then find the
// substring" without keeping a lower-cased copy of the text. Most texts are searched with
// ASCII letters folded on the fly; a text whose other characters change under lower-casing
// is compared character by character where the query may start. An escaped text is
// searched for the escaped query, and a match counts only where a character begins.
struct SearchKey {
    bool lowerCaseChangesNonAscii = false;
    bool nonAsciiLowersToAscii = false; // the Kelvin sign, dotted capital I, …

    static SearchKey of(const conversation::SharedText &searchableText);
    bool matches(const conversation::SharedText &searchableText, const SearchQueries &queries) const;
};

} // namespace quorral::store
