#pragma once

// For the loaders: the content parser on a value of a document they are already walking.

#include "conversation/Model.h"

#include <simdjson.h>

#include <optional>
#include <string>
#include <vector>

namespace quorral::conversation::ContentBlockParser {

// Consumes `content`. A malformed document is reported through the error code (the
// whole line is then unusable); a well-formed value of the wrong shape gives no blocks.
// True once the whole document has been read (nothing trails the top-level value).
inline bool atEnd(simdjson::ondemand::document &document)
{
    return document.current_location().error() == simdjson::OUT_OF_BOUNDS;
}

// Sets `into` to a string value's text; leaves it alone for a value of another type.
simdjson::error_code readString(simdjson::ondemand::value &value, std::optional<std::string> &into);

// The form the blocks' texts are given in. Summaries take them JSON-escaped in the one form
// the text module writes: mostly the log's own bytes, neither decoded nor escaped again.
enum class TextForm { plain, jsonEscaped };

simdjson::error_code parseValue(simdjson::ondemand::value content, std::vector<ContentBlock> &blocks,
                                TextForm form = TextForm::plain);

} // namespace quorral::conversation::ContentBlockParser
