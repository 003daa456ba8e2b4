#include "JsonBody.h"

namespace quorral::server {
namespace {

std::string limitViolation(std::string_view text, const JsonLimits &limits)
{
    std::size_t depth = 0;
    std::size_t structure = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > limits.depth)
                return "the JSON nests deeper than " + std::to_string(limits.depth) + " levels (at byte " + std::to_string(i) + ")";
            [[fallthrough]];
        case ',':
        case ':':
            if (++structure > limits.structure)
                return "the JSON holds more than " + std::to_string(limits.structure) + " values (at byte " + std::to_string(i) + ")";
            break;
        case ']':
        case '}':
            if (depth > 0)
                --depth;
            break;
        default:
            break;
        }
    }
    return {};
}

} // namespace

JsonBody parseJsonObject(std::string_view text, const JsonLimits &limits)
{
    JsonBody body;
    body.error = limitViolation(text, limits);
    if (!body.ok())
        return body;
    body.value = nlohmann::json::parse(text, nullptr, false);
    if (body.value.is_discarded())
        body.error = "the body is not valid JSON";
    else if (!body.value.is_object())
        body.error = "the body must be a JSON object";
    if (!body.ok())
        body.value = nullptr;
    return body;
}

} // namespace quorral::server
