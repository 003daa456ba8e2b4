#pragma once

#include "conversation/Model.h"

#include <optional>
#include <string_view>
#include <vector>

// Turns the "content" value of a chat message (a string, or an array of typed block
// objects) into content blocks. Never fails: anything unusable gives no blocks.
namespace quorral::conversation::ContentBlockParser {

// `contentJson` is the JSON text of the value; absent when the message has no content.
std::vector<ContentBlock> parse(std::optional<std::string_view> contentJson);

} // namespace quorral::conversation::ContentBlockParser
