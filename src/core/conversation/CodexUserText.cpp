#include "conversation/CodexUserText.h"

namespace quorral::conversation {

std::optional<std::string_view> codexUserText(std::string_view text)
{
    const auto start = text.find_first_not_of(" \t\r\n");
    const std::string_view body = start == std::string_view::npos ? std::string_view() : text.substr(start);
    for (std::string_view injected : {"<environment_context>", "<user_instructions>", "<permissions instructions>",
                                      "# AGENTS.md instructions"})
        if (body.starts_with(injected))
            return std::nullopt;
    constexpr std::string_view request = "## My request for Codex:";
    if (const auto at = body.find(request); at != std::string_view::npos) {
        auto rest = body.substr(at + request.size());
        const auto first = rest.find_first_not_of(" \t\r\n");
        return first == std::string_view::npos ? std::string_view() : rest.substr(first);
    }
    return text;
}

} // namespace quorral::conversation
