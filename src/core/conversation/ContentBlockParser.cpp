#include "conversation/ContentBlockParser.h"
#include "conversation/ContentBlockParserSimd.h"

namespace quorral::conversation::ContentBlockParser {
namespace {

using namespace simdjson;

#define QUORRAL_TRY(expression)                                                                                        \
    do {                                                                                                               \
        if (const auto error_ = (expression); error_ != SUCCESS)                                                       \
            return error_;                                                                                             \
    } while (false)

// What one block object holds, gathered in one pass over its members (their order varies).
struct BlockFields {
    std::optional<std::string_view> type;
    std::optional<std::string> text;
    std::optional<std::string> name;
    std::optional<std::string> thinking;
    std::string input = "{}";
    // "content" of a tool result: a string, or the texts of an array of objects.
    std::optional<std::string> resultText;
    // "source" of an image.
    std::string mediaType = "unknown";
    ImageSource source = UnknownImage{};
    bool sawMember = false;
};

error_code readInput(ondemand::value &value, std::string &input)
{
    ondemand::json_type type;
    QUORRAL_TRY(value.type().get(type));
    if (type != ondemand::json_type::object)
        return SUCCESS;
    ondemand::object object;
    QUORRAL_TRY(value.get_object().get(object));
    std::string_view raw;
    QUORRAL_TRY(object.raw_json().get(raw));
    std::string compact(raw.size(), '\0');
    std::size_t length = 0;
    if (simdjson::minify(raw.data(), raw.size(), compact.data(), length) != SUCCESS)
        return SUCCESS; // keeps "{}"
    compact.resize(length);
    input = std::move(compact);
    return SUCCESS;
}

// Walks an array to its end, calling `visit(object)` for every element that is an object;
// `allObjects` tells whether every element was one.
template <typename Visit>
error_code forEachObject(ondemand::array &array, bool &allObjects, Visit visit)
{
    allObjects = true;
    for (auto elementResult : array) {
        ondemand::value element;
        QUORRAL_TRY(std::move(elementResult).get(element));
        ondemand::json_type elementType;
        QUORRAL_TRY(element.type().get(elementType));
        if (elementType != ondemand::json_type::object) {
            allObjects = false;
            continue;
        }
        ondemand::object object;
        QUORRAL_TRY(element.get_object().get(object));
        QUORRAL_TRY(visit(object));
    }
    return SUCCESS;
}

error_code readResultContent(ondemand::value &value, std::optional<std::string> &into)
{
    ondemand::json_type type;
    QUORRAL_TRY(value.type().get(type));
    if (type == ondemand::json_type::string)
        return readString(value, into);
    if (type != ondemand::json_type::array)
        return SUCCESS;
    ondemand::array array;
    QUORRAL_TRY(value.get_array().get(array));
    std::string joined;
    bool first = true, allObjects = true;
    QUORRAL_TRY(forEachObject(array, allObjects, [&](ondemand::object &object) -> error_code {
        for (auto fieldResult : object) {
            ondemand::field field;
            QUORRAL_TRY(std::move(fieldResult).get(field));
            std::string_view key;
            QUORRAL_TRY(field.unescaped_key().get(key));
            if (key != "text")
                continue;
            std::optional<std::string> text;
            QUORRAL_TRY(readString(field.value(), text));
            if (text) {
                if (!first)
                    joined += '\n';
                joined += *text;
                first = false;
            }
        }
        return SUCCESS;
    }));
    if (allObjects)
        into = std::move(joined);
    return SUCCESS;
}

error_code readSource(ondemand::value &value, BlockFields &fields)
{
    ondemand::json_type type;
    QUORRAL_TRY(value.type().get(type));
    if (type != ondemand::json_type::object)
        return SUCCESS;
    ondemand::object object;
    QUORRAL_TRY(value.get_object().get(object));
    std::optional<std::string> mediaType, sourceType, data, url;
    for (auto fieldResult : object) {
        ondemand::field field;
        QUORRAL_TRY(std::move(fieldResult).get(field));
        std::string_view key;
        QUORRAL_TRY(field.unescaped_key().get(key));
        if (key == "media_type")
            QUORRAL_TRY(readString(field.value(), mediaType));
        else if (key == "type")
            QUORRAL_TRY(readString(field.value(), sourceType));
        else if (key == "data")
            QUORRAL_TRY(readString(field.value(), data));
        else if (key == "url")
            QUORRAL_TRY(readString(field.value(), url));
    }
    if (mediaType)
        fields.mediaType = std::move(*mediaType);
    if (sourceType == "base64" && data)
        fields.source = Base64Image{std::move(*data)};
    else if (sourceType == "url" && url)
        fields.source = UrlImage{std::move(*url)};
    return SUCCESS;
}

error_code readBlockObject(ondemand::object &object, BlockFields &fields)
{
    for (auto fieldResult : object) {
        ondemand::field field;
        QUORRAL_TRY(std::move(fieldResult).get(field));
        fields.sawMember = true;
        std::string_view key;
        QUORRAL_TRY(field.unescaped_key().get(key));
        ondemand::value value = field.value();
        if (key == "type") {
            std::optional<std::string> type;
            QUORRAL_TRY(readString(value, type));
            // One of the known names, "other" for any other string, absent for a non-string.
            fields.type = std::nullopt;
            if (type) {
                for (std::string_view known : {"text", "tool_use", "tool_result", "thinking", "image"})
                    if (*type == known)
                        fields.type = known;
                if (!fields.type)
                    fields.type = std::string_view("other");
            }
        } else if (key == "text") {
            QUORRAL_TRY(readString(value, fields.text));
        } else if (key == "name") {
            QUORRAL_TRY(readString(value, fields.name));
        } else if (key == "thinking") {
            QUORRAL_TRY(readString(value, fields.thinking));
        } else if (key == "input") {
            QUORRAL_TRY(readInput(value, fields.input));
        } else if (key == "content") {
            QUORRAL_TRY(readResultContent(value, fields.resultText));
        } else if (key == "source") {
            QUORRAL_TRY(readSource(value, fields));
        }
    }
    return SUCCESS;
}

void appendBlock(BlockFields &fields, std::vector<ContentBlock> &blocks)
{
    if (!fields.sawMember || !fields.type)
        return;
    const std::string_view type = *fields.type;
    if (type == "text") {
        if (fields.text)
            blocks.emplace_back(TextBlock{std::move(*fields.text)});
    } else if (type == "tool_use") {
        blocks.emplace_back(ToolUseBlock{fields.name ? std::move(*fields.name) : "unknown", std::move(fields.input)});
    } else if (type == "tool_result") {
        if (fields.resultText)
            blocks.emplace_back(ToolResultBlock{std::move(*fields.resultText)});
    } else if (type == "thinking") {
        if (fields.thinking)
            blocks.emplace_back(ThinkingBlock{std::move(*fields.thinking)});
        else if (fields.text)
            blocks.emplace_back(ThinkingBlock{std::move(*fields.text)});
    } else if (type == "image") {
        blocks.emplace_back(ImageBlock{std::move(fields.mediaType), std::move(fields.source)});
    }
}

} // namespace

error_code readString(ondemand::value &value, std::optional<std::string> &into)
{
    ondemand::json_type type;
    QUORRAL_TRY(value.type().get(type));
    if (type != ondemand::json_type::string)
        return SUCCESS;
    std::string_view text;
    QUORRAL_TRY(value.get_string().get(text));
    into = std::string(text);
    return SUCCESS;
}

error_code parseValue(ondemand::value content, std::vector<ContentBlock> &blocks)
{
    blocks.clear();
    ondemand::json_type type;
    QUORRAL_TRY(content.type().get(type));
    if (type == ondemand::json_type::string) {
        std::string_view text;
        QUORRAL_TRY(content.get_string().get(text));
        blocks.emplace_back(TextBlock{std::string(text)});
        return SUCCESS;
    }
    if (type != ondemand::json_type::array)
        return SUCCESS;
    ondemand::array array;
    QUORRAL_TRY(content.get_array().get(array));
    bool allObjects = true;
    QUORRAL_TRY(forEachObject(array, allObjects, [&](ondemand::object &object) -> error_code {
        BlockFields fields;
        QUORRAL_TRY(readBlockObject(object, fields));
        appendBlock(fields, blocks);
        return SUCCESS;
    }));
    if (!allObjects)
        blocks.clear();
    return SUCCESS;
}

std::vector<ContentBlock> parse(std::optional<std::string_view> contentJson)
{
    std::vector<ContentBlock> blocks;
    if (!contentJson)
        return blocks;
    thread_local ondemand::parser parser;
    const padded_string padded(*contentJson);
    ondemand::document document;
    if (parser.iterate(padded).get(document) != SUCCESS)
        return blocks;
    // A scalar document cannot be taken as a value; a string is the one scalar that counts.
    bool scalar = false;
    if (document.is_scalar().get(scalar) != SUCCESS)
        return blocks;
    if (scalar) {
        std::string_view text;
        if (document.get_string().get(text) == SUCCESS && atEnd(document))
            blocks.emplace_back(TextBlock{std::string(text)});
        return blocks;
    }
    ondemand::value value;
    if (document.get_value().get(value) != SUCCESS || parseValue(value, blocks) != SUCCESS || !atEnd(document))
        blocks.clear();
    return blocks;
}

} // namespace quorral::conversation::ContentBlockParser
