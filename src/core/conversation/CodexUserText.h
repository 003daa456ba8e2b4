#pragma once

#include <optional>
#include <string_view>

namespace quorral::conversation {

// What the person typed in a Codex user message. Codex records the context it injects
// (the environment, the AGENTS.md instructions) as user messages too: those give absent.
// The IDE extension wraps the request in its own preamble; only the request is kept.
std::optional<std::string_view> codexUserText(std::string_view text);

} // namespace quorral::conversation
