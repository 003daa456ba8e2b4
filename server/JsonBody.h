#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace quorral::server {

struct JsonLimits {
    std::size_t depth = 64;
    // Brackets, commas and colons outside strings: a bound on the values the parsed tree
    // holds, so a small body of "[0,0,0,…]" cannot turn into a tree many times its size.
    std::size_t structure = 200'000;
};

// A request body parsed as one JSON object; `error` says what is wrong, and where, when not.
struct JsonBody {
    nlohmann::json value;
    std::string error;
    bool ok() const { return error.empty(); }
};

// Checks the limits in one pass over the bytes before anything is built, then parses.
JsonBody parseJsonObject(std::string_view text, const JsonLimits &limits = {});

} // namespace quorral::server
