#pragma once

#include <string_view>

namespace quorral::cli {

// Exit status for a command line we cannot make sense of.
inline constexpr int usageExitStatus = 2;

std::string_view usageText();

// Prints "quorral: <problem>" and the usage on standard error; returns usageExitStatus.
int usageError(std::string_view problem);

} // namespace quorral::cli
