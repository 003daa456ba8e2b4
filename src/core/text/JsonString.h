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

} // namespace quorral::text
