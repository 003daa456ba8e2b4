#pragma once

#include <string>
#include <string_view>

namespace quorral::store {

// Whether `text` contains `needle` when ASCII letters are compared without case. `needle`
// must already be lower-case. This equals "the lower-cased text contains the needle" for
// every text whose lower-casing changes nothing but ASCII letters.
bool containsAsciiFolded(std::string_view text, std::string_view needle);

// The text a summary is searched in: nothing extra for most texts, a lower-cased copy
// for the few whose non-ASCII letters have case.
struct SearchKey {
    std::string lowered; // empty: search the original text with ASCII folding
    bool usesLoweredCopy = false;

    static SearchKey of(std::string_view searchableText);
    bool matches(std::string_view searchableText, std::string_view loweredQuery) const;
};

} // namespace quorral::store
