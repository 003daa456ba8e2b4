#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorral::text {

// Terminal cells `text` takes: wide (East Asian) characters take two, combining marks
// and other zero-width characters none. Invalid bytes count one each.
std::size_t displayWidth(std::string_view text);

// `text` cut to at most `cells` cells (with "…" where it was cut) and padded with spaces
// to exactly `cells`.
std::string fitToCells(std::string_view text, std::size_t cells);

} // namespace quorral::text
