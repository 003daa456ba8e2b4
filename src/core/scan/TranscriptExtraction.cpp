#include "scan/TranscriptExtraction.h"

#include "io/ReadFile.h"
#include "conversation/CodexUserText.h"
#include "scan/NoiseFilter.h"
#include "text/Unicode.h"

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorral::scan {
namespace {

namespace od = simdjson::ondemand;

struct Message {
    bool fromUser = false;
    std::string text;
};

// The bytes of a log read into memory, with the JSON parser's padding after them.
struct LogText {
    // The data followed by SIMDJSON_PADDING bytes; not cleared first, the read fills it.
    std::unique_ptr<char[]> buffer;
    std::size_t size = 0;
    std::size_t begin = 0;
    std::size_t end = 0;

    std::string_view view() const { return std::string_view(buffer.get() + begin, end - begin); }
};

// Reads `length` bytes at `start`. With `fromLineStart` false the read begins inside the
// log, and the text up to the first line feed is dropped: callers start one byte before
// the place they want, so a line that begins exactly there is kept. A trailing part after
// the last line feed that does not decode (a line caught mid-write, or a read boundary
// inside a multi-byte character) is left out, so it does not spoil the lines before it.
// Any other invalid UTF-8 makes the read fail.
std::optional<LogText> readLogText(const io::OpenedFile &file, std::uint64_t start, std::uint64_t length,
                                   bool fromLineStart)
{
    LogText log;
    log.size = static_cast<std::size_t>(length) + simdjson::SIMDJSON_PADDING;
    log.buffer = std::make_unique_for_overwrite<char[]>(log.size);
    const auto got = io::readInto(file, start, log.buffer.get(), static_cast<std::size_t>(length));
    if (!got)
        return std::nullopt;
    // The file may have shrunk; whatever was not read is treated as the end.
    std::fill(log.buffer.get() + *got, log.buffer.get() + log.size, '\0');
    const std::string_view data(log.buffer.get(), *got);

    log.end = *got;
    if (!fromLineStart) {
        const auto firstFeed = data.find('\n');
        // All of it belongs to a line that began before the read: nothing to use.
        log.begin = firstFeed == std::string_view::npos ? data.size() : firstFeed + 1;
    }
    const auto usable = text::validUtf8LinesLength(data.substr(log.begin));
    if (!usable)
        return std::nullopt;
    log.end = log.begin + *usable;
    return log;
}

// A complete object ends with "}" (trailing white space aside). The on-demand parser
// reads lazily, so this catches a truncated line that it would otherwise half accept.
bool endsLikeObject(std::string_view line)
{
    const auto last = line.find_last_not_of(" \t\r");
    return last != std::string_view::npos && line[last] == '}';
}

// A line is used only when it is one well-formed JSON document. The on-demand parser
// reads lazily and lets malformed values it never visits pass (NaN, trailing garbage), so
// the lines that yield a message are checked in full; the others cost nothing extra.
class LineCheck {
public:
    // `line` must be followed by SIMDJSON_PADDING readable bytes.
    bool wellFormed(std::string_view line)
    {
        simdjson::dom::element root;
        return !m_parser.parse(line.data(), line.size(), false).get(root) && root.is_object();
    }

private:
    simdjson::dom::parser m_parser;
};

struct ObjectLine {
    od::object object;
    std::string_view text;
};

// Calls `onObject(line)` for every line that parses as a JSON object. A line is skipped
// on its first character (it must be "{") before any parsing. Every line has the bytes
// after it readable (the next lines, then the padding), as both parsers need.
template <typename F>
void forEachObjectLine(const LogText &log, F &&onObject)
{
    od::parser parser;
    const char *const base = log.buffer.get();
    const std::size_t readable = log.size;
    std::size_t pos = log.begin;
    while (pos < log.end) {
        const void *feed = std::memchr(base + pos, '\n', log.end - pos);
        const std::size_t lineEnd = feed ? static_cast<std::size_t>(static_cast<const char *>(feed) - base) : log.end;
        const std::string_view line(base + pos, lineEnd - pos);
        pos = lineEnd + 1;
        if (line.empty() || line.front() != '{' || !endsLikeObject(line))
            continue;
        od::document doc;
        ObjectLine object{{}, line};
        if (parser.iterate(line.data(), line.size(), readable - static_cast<std::size_t>(line.data() - base)).get(doc)
            || doc.get_object().get(object.object))
            continue;
        onObject(object);
    }
}

// Which blocks of a content array carry the message's text.
bool isTextBlock(std::string_view blockType, bool hasType, LogFormat format)
{
    switch (format) {
    case LogFormat::chat: return hasType && blockType == "text";
    case LogFormat::codex: return hasType && (blockType == "input_text" || blockType == "output_text" || blockType == "text");
    case LogFormat::geminiChat: return !hasType || blockType == "text";
    }
    return false;
}

// The text of a message's "content": the string itself, or the "text" members of the
// text blocks of an array of objects joined with line feeds. Absent for other shapes.
std::optional<std::string> contentText(od::value content, LogFormat format = LogFormat::chat)
{
    od::json_type type;
    if (content.type().get(type))
        return std::nullopt;
    if (type == od::json_type::string) {
        std::string_view s;
        if (content.get_string().get(s))
            return std::nullopt;
        return std::string(s);
    }
    if (type != od::json_type::array)
        return std::nullopt;
    od::array blocks;
    if (content.get_array().get(blocks))
        return std::nullopt;
    std::string joined;
    bool first = true;
    for (auto element : blocks) {
        od::object block;
        if (element.get_object().get(block))
            return std::nullopt; // not an array of objects
        std::string_view blockType;
        const auto typeError = block["type"].get_string().get(blockType);
        if (typeError && typeError != simdjson::NO_SUCH_FIELD)
            continue;
        if (!isTextBlock(blockType, !typeError, format))
            continue;
        std::string_view text;
        if (block["text"].get_string().get(text))
            continue;
        if (!first)
            joined += '\n';
        joined.append(text);
        first = false;
    }
    return joined;
}

// Cursor's agent wraps what the person typed in <user_query> tags.
std::string_view unwrapUserQuery(std::string_view text)
{
    constexpr std::string_view open = "<user_query>", close = "</user_query>";
    const auto start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos || text.substr(start, open.size()) != open)
        return text;
    auto inner = text.substr(start + open.size());
    if (const auto end = inner.rfind(close); end != std::string_view::npos)
        inner = inner.substr(0, end);
    const auto first = inner.find_first_not_of(" \t\r\n");
    const auto last = inner.find_last_not_of(" \t\r\n");
    return first == std::string_view::npos ? std::string_view() : inner.substr(first, last - first + 1);
}

// The role of a chat record: "type", or "role" when the record has no "type".
std::optional<bool> chatRoleIsUser(od::object &object)
{
    std::string_view role;
    const auto typeError = object["type"].get_string().get(role);
    if (typeError == simdjson::NO_SUCH_FIELD) {
        if (object["role"].get_string().get(role))
            return std::nullopt;
    } else if (typeError) {
        return std::nullopt;
    }
    if (role == "user")
        return true;
    if (role == "assistant")
        return false;
    return std::nullopt;
}

// A Codex response item that is a user or assistant message: its role and text.
std::optional<Message> codexItem(od::object &item)
{
    std::string_view itemType, role;
    if (item["type"].get_string().get(itemType) || itemType != "message" || item["role"].get_string().get(role))
        return std::nullopt;
    if (role != "user" && role != "assistant")
        return std::nullopt;
    od::value content;
    if (item["content"].get(content))
        return std::nullopt;
    auto text = contentText(content, LogFormat::codex);
    if (!text)
        return std::nullopt;
    if (role == "assistant")
        return Message{false, std::move(*text)};
    const auto typed = conversation::codexUserText(*text);
    if (!typed)
        return std::nullopt;
    return Message{true, std::string(*typed)};
}

// A Codex "user_message" or "agent_message" event.
std::optional<Message> codexEvent(od::object &payload)
{
    std::string_view eventType, text;
    if (payload["type"].get_string().get(eventType) || (eventType != "user_message" && eventType != "agent_message"))
        return std::nullopt;
    if (payload["message"].get_string().get(text))
        return std::nullopt;
    if (eventType == "agent_message")
        return Message{false, std::string(text)};
    const auto typed = conversation::codexUserText(text);
    if (!typed)
        return std::nullopt;
    return Message{true, std::string(*typed)};
}

std::string cutText(std::string_view text, std::size_t limit)
{
    // A text has at most as many characters as bytes: a short one fits without counting.
    if (text.size() <= limit || text::graphemeCount(text, limit) <= limit)
        return std::string(text);
    std::string cut(text.substr(0, text::graphemePrefixLength(text, limit)));
    cut += "…";
    return cut;
}

std::string makeEntry(const Message &message, std::size_t cut)
{
    std::string entry = message.fromUser ? "User: " : "Assistant: ";
    entry += cutText(message.text, cut);
    entry += "\n\n";
    return entry;
}

// The newest messages whose entries fit in `maxChars` characters, in chronological order.
std::string newestThatFit(const std::vector<Message> &messages, std::int64_t maxChars)
{
    // Newest first, as many entries as fit; then put back in chronological order. An entry
    // has at most as many characters as bytes, so while the bytes fit nothing is counted;
    // near the limit the entries taken so far are counted exactly, and then each new one.
    std::vector<std::string> entries;
    std::int64_t used = 0; // characters of entries[0, counted)
    std::size_t counted = 0;
    std::int64_t uncountedBytes = 0;
    for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
        std::string entry = makeEntry(*it, messageCut);
        const auto bytes = static_cast<std::int64_t>(entry.size());
        if (used + uncountedBytes + bytes > maxChars) {
            for (; counted < entries.size(); ++counted)
                used += static_cast<std::int64_t>(text::graphemeCount(entries[counted]));
            uncountedBytes = 0;
            const auto room = static_cast<std::size_t>(std::max<std::int64_t>(maxChars - used, 0));
            const auto count = text::graphemeCount(entry, room);
            if (count > room)
                break;
            used += static_cast<std::int64_t>(count);
            counted = entries.size() + 1;
        } else {
            uncountedBytes += bytes;
        }
        entries.push_back(std::move(entry));
    }
    std::string content;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        content += *it;
    return content;
}

// Where the next incremental read starts, relative to the read: past every complete line.
// A last line without its line feed counts only when it is a whole object (a log that
// simply does not end with one); otherwise it is being written and is read again whole
// next time. A window cut by the read limit with no line end in it moves on regardless,
// so one overlong line cannot hold the log back for ever.
std::size_t nextReadPosition(const LogText &log, LineCheck &check, bool windowCut)
{
    const auto lastFeed = log.view().rfind('\n');
    const std::size_t linesEnd = lastFeed == std::string_view::npos ? log.begin : log.begin + lastFeed + 1;
    const std::string_view trailing(log.buffer.get() + linesEnd, log.end - linesEnd);
    if (trailing.empty() || (trailing.front() == '{' && check.wellFormed(trailing)))
        return log.end;
    if (windowCut && lastFeed == std::string_view::npos)
        return log.end;
    return linesEnd;
}

} // namespace

std::optional<ExtractedConversation> extractConversationFromJSONL(const std::string &path,
                                                                  std::uint64_t readFromOffset,
                                                                  std::int64_t maxChars, LogFormat format)
{
    const auto file = io::openRegularFile(path);
    if (!file)
        return std::nullopt;
    const std::uint64_t size = file->size;
    if (size < minimumLogSize)
        return std::nullopt;

    // Reads inside the log start one byte early: when that byte is the line feed before
    // the offset, the line that starts at the offset is kept.
    std::uint64_t start = 0;
    std::uint64_t length = size;
    if (readFromOffset > 0 && readFromOffset < size) {
        start = readFromOffset - 1;
        length = std::min(size - readFromOffset, incrementalReadLimit) + 1;
    } else if (size > largeLogThreshold) {
        start = size - tailLength - 1;
        length = tailLength + 1;
    }
    const bool windowCut = start + length < size && readFromOffset > 0 && readFromOffset < size;
    const auto log = readLogText(*file, start, length, start == 0);
    if (!log)
        return std::nullopt;

    LineCheck check;
    std::vector<Message> messages;
    // Codex: the message events, used only when the log holds no message item.
    std::vector<Message> events;
    // Gemini: where each message id first appeared.
    std::unordered_map<std::string, std::size_t> positions;
    const auto keep = [&](Message message, std::string_view lineText, std::vector<Message> &into) {
        auto cleaned = filterNoiseFromMessage(message.text, message.fromUser ? "user" : "assistant");
        if (cleaned.empty() || !check.wellFormed(lineText))
            return false;
        into.push_back({message.fromUser, std::move(cleaned)});
        return true;
    };
    forEachObjectLine(*log, [&](ObjectLine &line) {
        od::object &object = line.object;
        switch (format) {
        case LogFormat::chat: {
            const auto fromUser = chatRoleIsUser(object);
            if (!fromUser)
                return;
            od::object message;
            if (object["message"].get_object().get(message))
                return;
            od::value content;
            if (message["content"].get(content))
                return;
            auto text = contentText(content);
            if (!text)
                return;
            if (*fromUser)
                *text = std::string(unwrapUserQuery(*text));
            keep({*fromUser, std::move(*text)}, line.text, messages);
            return;
        }
        case LogFormat::codex: {
            std::string_view type;
            if (object["type"].get_string().get(type))
                return; // the older form's header
            if (type == "message") {
                if (auto message = codexItem(object))
                    keep(std::move(*message), line.text, messages);
                return;
            }
            od::object payload;
            if ((type != "response_item" && type != "event_msg") || object["payload"].get_object().get(payload))
                return;
            if (type == "response_item") {
                if (auto message = codexItem(payload))
                    keep(std::move(*message), line.text, messages);
            } else if (auto message = codexEvent(payload)) {
                keep(std::move(*message), line.text, events);
            }
            return;
        }
        case LogFormat::geminiChat: {
            std::string_view type, id;
            if (object["type"].get_string().get(type) || (type != "user" && type != "gemini"))
                return;
            const bool hasId = !object["id"].get_string().get(id);
            const std::string key = hasId ? std::string(id) : std::string();
            od::value content;
            if (object["content"].get(content))
                return;
            auto text = contentText(content, LogFormat::geminiChat);
            if (!text)
                return;
            std::vector<Message> one;
            if (!keep({type == "user", std::move(*text)}, line.text, one))
                return;
            if (hasId) {
                if (const auto seen = positions.find(key); seen != positions.end()) {
                    messages[seen->second] = std::move(one.front());
                    return;
                }
                positions.emplace(key, messages.size());
            }
            messages.push_back(std::move(one.front()));
            return;
        }
        }
    });
    if (messages.empty())
        messages = std::move(events);

    ExtractedConversation result;
    result.messageCount = static_cast<std::int64_t>(messages.size());
    result.nextOffset = start + nextReadPosition(*log, check, windowCut);
    result.reachedEnd = !windowCut;

    result.content = newestThatFit(messages, maxChars);
    return result;
}

namespace {

using nlohmann::json;

// A whole chat document larger than this is not read.
constexpr std::uint64_t chatDocumentBound = 64ull << 20;

std::optional<std::string> domContentText(simdjson::dom::element content)
{
    std::string_view s;
    if (!content.get_string().get(s))
        return std::string(s);
    simdjson::dom::array blocks;
    if (content.get_array().get(blocks))
        return std::nullopt;
    std::string joined;
    bool first = true;
    for (auto element : blocks) {
        simdjson::dom::object block;
        if (element.get_object().get(block))
            return std::nullopt;
        std::string_view blockType, text;
        const auto typeError = block["type"].get_string().get(blockType);
        if ((typeError && typeError != simdjson::NO_SUCH_FIELD) || !isTextBlock(blockType, !typeError, LogFormat::geminiChat))
            continue;
        if (block["text"].get_string().get(text))
            continue;
        if (!first)
            joined += '\n';
        joined.append(text);
        first = false;
    }
    return joined;
}

// Follows `path` from `root`; null when a step is missing or of the wrong kind.
json *stepInto(json &root, const json &path, std::size_t steps)
{
    json *at = &root;
    for (std::size_t i = 0; i < steps; ++i) {
        const json &key = path[i];
        if (at->is_object() && key.is_string()) {
            const auto found = at->find(key.get<std::string>());
            if (found == at->end())
                return nullptr;
            at = &*found;
        } else if (at->is_array() && key.is_number_unsigned() && key.get<std::size_t>() < at->size()) {
            at = &(*at)[key.get<std::size_t>()];
        } else {
            return nullptr;
        }
    }
    return at;
}

// Applies one record of a Copilot session log to the document built so far.
void applyCopilotRecord(json &record, std::optional<json> &document)
{
    const auto kind = record.find("kind");
    if (kind == record.end() || !kind->is_number_integer())
        return;
    const auto value = record.find("v");
    const auto keys = record.find("k");
    switch (kind->get<std::int64_t>()) {
    case 0:
        if (value != record.end())
            document = std::move(*value);
        return;
    case 1: { // set
        if (!document || value == record.end() || keys == record.end() || !keys->is_array())
            return;
        if (keys->empty()) {
            document = std::move(*value);
            return;
        }
        json *parent = stepInto(*document, *keys, keys->size() - 1);
        const json &last = keys->back();
        if (parent && parent->is_object() && last.is_string())
            (*parent)[last.get<std::string>()] = std::move(*value);
        else if (parent && parent->is_array() && last.is_number_unsigned() && last.get<std::size_t>() < parent->size())
            (*parent)[last.get<std::size_t>()] = std::move(*value);
        else if (parent && parent->is_array() && last.is_number_unsigned() && last.get<std::size_t>() == parent->size())
            parent->push_back(std::move(*value));
        return;
    }
    case 2: { // append, after cutting the array at "i" when given
        if (!document || value == record.end() || keys == record.end() || !keys->is_array())
            return;
        json *target = stepInto(*document, *keys, keys->size());
        if (!target || !target->is_array())
            return;
        if (const auto cut = record.find("i"); cut != record.end() && cut->is_number_unsigned()
                                                && cut->get<std::size_t>() < target->size())
            target->erase(target->begin() + static_cast<std::ptrdiff_t>(cut->get<std::size_t>()), target->end());
        if (value->is_array())
            for (auto &item : *value)
                target->push_back(std::move(item));
        else
            target->push_back(std::move(*value));
        return;
    }
    case 3: { // delete
        if (!document || keys == record.end() || !keys->is_array() || keys->empty())
            return;
        json *parent = stepInto(*document, *keys, keys->size() - 1);
        const json &last = keys->back();
        if (parent && parent->is_object() && last.is_string())
            parent->erase(last.get<std::string>());
        return;
    }
    default: return;
    }
}

std::string baseName(std::string_view path)
{
    const auto slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

const std::string *stringAt(const json &object, const char *key)
{
    if (!object.is_object())
        return nullptr;
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get_ptr<const std::string *>() : nullptr;
}

// The name an inline file reference shows: its own name, else the file name of its path.
std::optional<std::string> inlineReferenceName(const json &part)
{
    if (const auto *name = stringAt(part, "name"))
        return *name;
    const auto reference = part.find("inlineReference");
    if (reference == part.end() || !reference->is_object())
        return std::nullopt;
    if (const auto *name = stringAt(*reference, "name"))
        return *name;
    for (const char *key : {"fsPath", "path"})
        if (const auto *path = stringAt(*reference, key))
            return baseName(*path);
    if (const auto uri = reference->find("uri"); uri != reference->end())
        if (const auto *path = stringAt(*uri, "path"))
            return baseName(*path);
    return std::nullopt;
}

// The assistant text of one request's "response" array: one piece per usable element,
// joined with line feeds; an inline reference is part of the sentence around it.
std::string copilotResponseText(const json &response)
{
    struct Piece {
        std::string text;
        bool inlined = false;
    };
    std::vector<Piece> pieces;
    for (const auto &part : response) {
        if (!part.is_object())
            return {};
        const auto kind = stringAt(part, "kind");
        if (kind && *kind == "inlineReference") {
            if (auto name = inlineReferenceName(part))
                pieces.push_back({*name, true});
            continue;
        }
        const auto value = part.find("value");
        if (value == part.end())
            continue;
        if (value->is_string()) {
            pieces.push_back({value->get<std::string>()});
            continue;
        }
        if (!value->is_object())
            continue;
        const auto content = value->find("content");
        if (content == value->end() || !content->is_array())
            continue;
        if (!std::all_of(content->begin(), content->end(), [](const json &item) { return item.is_object(); }))
            continue;
        std::string piece;
        bool first = true;
        for (const auto &item : *content) {
            const auto *text = stringAt(item, "value");
            if (!text)
                continue;
            if (!first)
                piece += '\n';
            piece += *text;
            first = false;
        }
        pieces.push_back({std::move(piece)});
    }
    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0 && !pieces[i].inlined && !pieces[i - 1].inlined)
            joined += '\n';
        joined += pieces[i].text;
    }
    return joined;
}

std::vector<Message> copilotMessages(const json &document)
{
    std::vector<Message> messages;
    const auto requests = document.is_object() ? document.find("requests") : document.end();
    if (!document.is_object() || requests == document.end() || !requests->is_array())
        return messages;
    if (!std::all_of(requests->begin(), requests->end(), [](const json &r) { return r.is_object(); }))
        return messages;
    for (const auto &request : *requests) {
        if (const auto message = request.find("message"); message != request.end())
            if (const auto *text = stringAt(*message, "text"); text && !text->empty())
                messages.push_back({true, *text});
        const auto response = request.find("response");
        if (response == request.end() || !response->is_array())
            continue;
        auto answer = copilotResponseText(*response);
        if (!answer.empty())
            messages.push_back({false, std::move(answer)});
    }
    return messages;
}

} // namespace

std::optional<ExtractedConversation> extractGeminiChatDocument(const std::string &path, std::int64_t maxChars)
{
    const auto file = io::openRegularFile(path);
    if (!file || file->size > chatDocumentBound)
        return std::nullopt;
    const auto log = readLogText(*file, 0, file->size, true);
    if (!log || log->end != file->size)
        return std::nullopt; // a document cut mid-write is read once it is whole
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (parser.parse(log->buffer.get(), log->end, false).get(root))
        return std::nullopt;
    ExtractedConversation result;
    result.nextOffset = file->size;
    simdjson::dom::array list;
    if (root["messages"].get_array().get(list))
        return result;
    std::vector<Message> messages;
    for (auto element : list) {
        std::string_view type;
        if (element["type"].get_string().get(type) || (type != "user" && type != "gemini"))
            continue;
        simdjson::dom::element content;
        if (element["content"].get(content))
            continue;
        const auto text = domContentText(content);
        if (!text)
            continue;
        auto cleaned = filterNoiseFromMessage(*text, type == "user" ? "user" : "assistant");
        if (!cleaned.empty())
            messages.push_back({type == "user", std::move(cleaned)});
    }
    result.messageCount = static_cast<std::int64_t>(messages.size());
    result.content = newestThatFit(messages, maxChars);
    return result;
}

std::optional<std::string> extractCopilotJSONL(const std::string &path)
{
    const auto file = io::openRegularFile(path);
    if (!file)
        return std::nullopt;
    const auto log = readLogText(*file, 0, file->size, true);
    if (!log)
        return std::nullopt;

    // Every line is checked first: the checker bounds the depth the document may take.
    LineCheck check;
    std::optional<json> document;
    forEachObjectLine(*log, [&](ObjectLine &line) {
        if (!check.wellFormed(line.text))
            return;
        auto record = json::parse(line.text, nullptr, false);
        if (record.is_object())
            applyCopilotRecord(record, document);
    });
    if (!document)
        return std::nullopt;
    const auto messages = copilotMessages(*document);

    std::string transcript;
    std::size_t used = 0;
    for (const auto &message : messages) {
        std::string entry = makeEntry(message, copilotMessageCut);
        const auto count = text::graphemeCount(entry);
        if (used + count > copilotTranscriptBound)
            break;
        used += count;
        transcript += entry;
    }
    if (transcript.empty())
        return std::nullopt;
    return transcript;
}

} // namespace quorral::scan
