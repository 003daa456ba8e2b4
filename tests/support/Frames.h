#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quorral::test {

// A native-messaging frame: a length in native byte order, true or not, then `body`.
inline std::string frameOf(std::uint32_t length, std::string_view body)
{
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &length, 4);
    return bytes + std::string(body);
}

inline std::string frameOf(std::string_view body) { return frameOf(static_cast<std::uint32_t>(body.size()), body); }

} // namespace quorral::test
