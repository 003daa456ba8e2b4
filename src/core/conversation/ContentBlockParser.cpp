#include "conversation/ContentBlockParser.h"
#include "conversation/ContentBlockParserSimd.h"

#include "text/JsonString.h"

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
    // "arguments" of a "toolCall" block, the form some agents write their tool calls in.
    std::string arguments = "{}";
    // "content" of a tool result: a string, or the texts of an array of objects.
    std::optional<std::string> resultText;
    // "source" of an image.
    std::string mediaType = "unknown";
    ImageSource source = UnknownImage{};
    bool sawMember = false;
};

// A string member of a block in the requested form; left alone for another type.
error_code readText(ondemand::value &value, std::optional<std::string> &into, TextForm form)
{
    if (form == TextForm::plain)
        return readString(value, into);
    ondemand::json_type type;
    QUORRAL_TRY(value.type().get(type));
    if (type != ondemand::json_type::string)
        return SUCCESS;
    const auto raw = text::jsonStringContent(value.raw_json_token());
    if (!raw)
        return STRING_ERROR;
    if (text::isCanonicalJsonEscaped(*raw)) {
        into = std::string(*raw);
        return SUCCESS;
    }
    std::string plain(raw->size(), '\0');
    std::size_t written = 0;
    if (!text::unescapeJsonString(*raw, plain.data(), written))
        return STRING_ERROR;
    plain.resize(written);
    into = text::jsonEscaped(plain);
    return SUCCESS;
}

error_code readInput(ondemand::value &value, std::string &input, TextForm form)
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
    input = form == TextForm::plain ? std::move(compact) : text::jsonEscaped(compact);
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

error_code readResultContent(ondemand::value &value, std::optional<std::string> &into, TextForm form)
{
    ondemand::json_type type;
    QUORRAL_TRY(value.type().get(type));
    if (type == ondemand::json_type::string)
        return readText(value, into, form);
    if (type != ondemand::json_type::array)
        return SUCCESS;
    ondemand::array array;
    QUORRAL_TRY(value.get_array().get(array));
    std::string joined;
    bool first = true, allObjects = true;
    const auto joinTexts = [&](ondemand::object &object) -> error_code {
        for (auto fieldResult : object) {
            ondemand::field field;
            QUORRAL_TRY(std::move(fieldResult).get(field));
            std::string_view key;
            QUORRAL_TRY(field.unescaped_key().get(key));
            if (key != "text")
                continue;
            std::optional<std::string> text;
            QUORRAL_TRY(readText(field.value(), text, form));
            if (text) {
                if (!first)
                    joined += form == TextForm::plain ? "\n" : "\\n";
                joined += *text;
                first = false;
            }
        }
        return SUCCESS;
    };
    QUORRAL_TRY(forEachObject(array, allObjects, joinTexts));
    if (allObjects)
        into = std::move(joined);
    return SUCCESS;
}

error_code readSource(ondemand::value &value, BlockFields &fields, TextForm form)
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
            QUORRAL_TRY(readText(field.value(), mediaType, form));
        else if (key == "type")
            QUORRAL_TRY(readText(field.value(), sourceType, form));
        else if (key == "data")
            QUORRAL_TRY(readText(field.value(), data, form));
        else if (key == "url")
            QUORRAL_TRY(readText(field.value(), url, form));
    }
    if (mediaType)
        fields.mediaType = std::move(*mediaType);
    if (sourceType == "base64" && data)
        fields.source = Base64Image{std::move(*data)};
    else if (sourceType == "url" && url)
        fields.source = UrlImage{std::move(*url)};
    return SUCCESS;
}

// The type is compared as it is: the known names read the same in both forms.
error_code readBlockObject(ondemand::object &object, BlockFields &fields, TextForm form)
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
            QUORRAL_TRY(readText(value, type, form));
            // One of the known names, "other" for any other string, absent for a non-string.
            fields.type = std::nullopt;
            if (type) {
                for (std::string_view known : {"text", "tool_use", "toolCall", "tool_result", "thinking", "image"})
                    if (*type == known)
                        fields.type = known;
                if (!fields.type)
                    fields.type = std::string_view("other");
            }
        } else if (key == "text") {
            QUORRAL_TRY(readText(value, fields.text, form));
        } else if (key == "name") {
            QUORRAL_TRY(readText(value, fields.name, form));
        } else if (key == "thinking") {
            QUORRAL_TRY(readText(value, fields.thinking, form));
        } else if (key == "input") {
            QUORRAL_TRY(readInput(value, fields.input, form));
        } else if (key == "arguments") {
            QUORRAL_TRY(readInput(value, fields.arguments, form));
        } else if (key == "content") {
            QUORRAL_TRY(readResultContent(value, fields.resultText, form));
        } else if (key == "source") {
            QUORRAL_TRY(readSource(value, fields, form));
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
    } else if (type == "toolCall") {
        blocks.emplace_back(ToolUseBlock{fields.name ? std::move(*fields.name) : "unknown", std::move(fields.arguments)});
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

error_code parseValue(ondemand::value content, std::vector<ContentBlock> &blocks, TextForm form)
{
    blocks.clear();
    ondemand::json_type type;
    QUORRAL_TRY(content.type().get(type));
    if (type == ondemand::json_type::string) {
        std::optional<std::string> text;
        QUORRAL_TRY(readText(content, text, form));
        blocks.emplace_back(TextBlock{std::move(*text)});
        return SUCCESS;
    }
    if (type != ondemand::json_type::array)
        return SUCCESS;
    ondemand::array array;
    QUORRAL_TRY(content.get_array().get(array));
    bool allObjects = true;
    const auto appendObject = [&](ondemand::object &object) -> error_code {
        BlockFields fields;
        QUORRAL_TRY(readBlockObject(object, fields, form));
        appendBlock(fields, blocks);
        return SUCCESS;
    };
    QUORRAL_TRY(forEachObject(array, allObjects, appendObject));
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
