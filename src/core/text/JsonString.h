#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorral::text {

// The content between the quotes of a raw JSON string token (trailing white space
// allowed), still escaped; absent when the token is no string.
std::optional<std::string_view> jsonStringContent(std::string_view token);

// Decodes the escapes of a JSON string's raw content into `out`, which must hold
// raw.size() bytes (decoding never grows the text); false on a malformed escape or a
// lone surrogate.
bool unescapeJsonString(std::string_view raw, char *out, std::size_t &written);

// The one escaped form this program writes a JSON string's content in: the quote, the
// backslash and control characters escaped, line feed, carriage return and tab by their
// short escapes, other control characters as "\u00xx" with lower-case digits; nothing else.
// Escaping works character by character, so a text contains another exactly when its
// escaped form contains the other's escaped form starting on a character (see below).
void appendJsonEscaped(std::string &out, std::string_view text);
std::string jsonEscaped(std::string_view text);

// Whether raw string content is in exactly that form: such content can be searched and
// written out again as it is, without decoding.
bool isCanonicalJsonEscaped(std::string_view raw);

namespace detail {
// The check above without the wider instructions it picks where the processor has them
// (for the tests, which must cover both).
bool isCanonicalJsonEscapedNarrow(std::string_view raw);
} // namespace detail

// Whether `pos` in escaped content begins a character rather than lying inside an escape.
bool startsEscapedCharacter(std::string_view escaped, std::size_t pos);

} // namespace quorral::text
