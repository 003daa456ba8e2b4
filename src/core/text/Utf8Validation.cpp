// The validation half of text/Unicode.h, in a file of its own: it is the only part that
// needs simdjson, and the native-messaging host, which uses the rest, loads no simdjson.
#include "text/Unicode.h"

#include <simdjson.h>

namespace quorral::text {

bool isValidUtf8(std::string_view s)
{
    return simdjson::validate_utf8(s.data(), s.size());
}

std::optional<std::size_t> validUtf8LinesLength(std::string_view lines)
{
    if (isValidUtf8(lines))
        return lines.size();
    const auto lastFeed = lines.rfind('\n');
    const std::size_t whole = lastFeed == std::string_view::npos ? 0 : lastFeed + 1;
    if (!isValidUtf8(lines.substr(0, whole)))
        return std::nullopt;
    return whole;
}

} // namespace quorral::text
