#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace quorral::text {

// Character counts throughout Quorral are counts of extended grapheme clusters,
// the characters a user perceives, not bytes or code points.

// Number of grapheme clusters in `s`, counting stops once it exceeds `limit`
// (so the result is at most limit + 1). Invalid UTF-8 bytes count as one each.
std::size_t graphemeCount(std::string_view s, std::size_t limit = static_cast<std::size_t>(-1));

// Byte length of the first `n` grapheme clusters of `s` (all of `s` when it has fewer).
std::size_t graphemePrefixLength(std::string_view s, std::size_t n);

// Trims Unicode white space and line breaks from both ends.
std::string_view trimWhitespace(std::string_view s);

// Trims only line breaks (LF, VT, FF, CR, NEL, LS, PS) from both ends; spaces and tabs stay.
std::string_view trimLineBreaks(std::string_view s);

// Trims only spaces and tabs from both ends.
std::string_view trimSpacesAndTabs(std::string_view s);

bool isValidUtf8(std::string_view s);
// The same answer by a plain walk over the code points, for the few bytes of a small file:
// code that uses only this (the native-messaging host) loads no SIMD JSON library.
bool isValidUtf8Short(std::string_view s);

// How much of `lines` is usable as UTF-8 text: all of it when it is valid; else up to and
// including its last line feed when that part is valid (what follows is a line caught
// mid-write, possibly cut inside a character); absent when invalid UTF-8 stands before it.
std::optional<std::size_t> validUtf8LinesLength(std::string_view lines);

// Lower-cased code point by code point (simple case mapping); invalid bytes are kept.
std::string toLower(std::string_view s);

// True when lower-casing `s` changes more than its ASCII letters, so that comparing with
// ASCII letters folded is not the same as comparing the lower-cased text.
bool lowerCaseChangesNonAscii(std::string_view s);

// True when some non-ASCII character of `s` lower-cases to an ASCII one (the Kelvin sign).
bool nonAsciiLowersToAscii(std::string_view s);

} // namespace quorral::text
