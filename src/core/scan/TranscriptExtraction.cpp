#include "scan/TranscriptExtraction.h"

#include "io/ReadFile.h"
#include "scan/NoiseFilter.h"
#include "text/Unicode.h"

#include <simdjson.h>

#include <cstring>
#include <string_view>
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
    std::string buffer; // data followed by SIMDJSON_PADDING bytes
    std::size_t begin = 0;
    std::size_t end = 0;

    std::string_view view() const { return std::string_view(buffer).substr(begin, end - begin); }
};

enum class Cut { none, head, headAndTail };

// Reads `length` bytes at `offset`. With a cut head the text up to the first line feed
// is dropped; with a cut tail a trailing partial line that does not decode is dropped
// too, so a read boundary inside a multi-byte character does not spoil the whole log.
// Any other invalid UTF-8 makes the read fail.
std::optional<LogText> readLogText(const io::OpenedFile &file, std::uint64_t offset, std::uint64_t length, Cut cut)
{
    LogText log;
    log.buffer.resize(static_cast<std::size_t>(length) + simdjson::SIMDJSON_PADDING);
    const auto got = io::readInto(file, offset, log.buffer.data(), static_cast<std::size_t>(length));
    if (!got)
        return std::nullopt;
    // The file may have shrunk; whatever was not read is treated as the end.
    const bool shortRead = *got < length;
    std::fill(log.buffer.begin() + static_cast<std::ptrdiff_t>(*got), log.buffer.end(), '\0');
    const std::string_view data(log.buffer.data(), *got);

    log.end = *got;
    if (cut == Cut::none) {
        if (!text::isValidUtf8(data))
            return std::nullopt;
        return log;
    }
    const auto firstFeed = data.find('\n');
    if (firstFeed == std::string_view::npos) {
        if (!text::isValidUtf8(data))
            return std::nullopt;
        return log;
    }
    log.begin = firstFeed + 1;
    const auto lastFeed = data.rfind('\n');
    const std::string_view middle = data.substr(log.begin, lastFeed + 1 - log.begin);
    if (!text::isValidUtf8(middle))
        return std::nullopt;
    const std::string_view last = data.substr(lastFeed + 1);
    if (!text::isValidUtf8(last)) {
        if (cut != Cut::headAndTail && !shortRead)
            return std::nullopt;
        log.end = lastFeed + 1;
    }
    return log;
}

// A complete object ends with "}" (trailing white space aside). The on-demand parser
// reads lazily, so this catches a truncated line that it would otherwise half accept.
bool endsLikeObject(std::string_view line)
{
    const auto last = line.find_last_not_of(" \t\r");
    return last != std::string_view::npos && line[last] == '}';
}

// Calls `onObject(object)` for every line that parses as a JSON object. A line is
// skipped on its first character (it must be "{") before any parsing.
template <typename F>
void forEachObjectLine(const LogText &log, F &&onObject)
{
    od::parser parser;
    const char *const base = log.buffer.data();
    const std::size_t readable = log.buffer.size();
    std::size_t pos = log.begin;
    while (pos < log.end) {
        const void *feed = std::memchr(base + pos, '\n', log.end - pos);
        const std::size_t lineEnd = feed ? static_cast<std::size_t>(static_cast<const char *>(feed) - base) : log.end;
        const std::string_view line(base + pos, lineEnd - pos);
        pos = lineEnd + 1;
        if (line.empty() || line.front() != '{' || !endsLikeObject(line))
            continue;
        od::document doc;
        od::object object;
        // The bytes after the line (the next lines, then the padding) are readable.
        if (parser.iterate(line.data(), line.size(), readable - static_cast<std::size_t>(line.data() - base)).get(doc)
            || doc.get_object().get(object))
            continue;
        onObject(object);
    }
}

// The text of a message's "content": the string itself, or the "text" members of the
// text blocks of an array of objects joined with line feeds. Absent for other shapes.
std::optional<std::string> contentText(od::value content)
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
        if (block["type"].get_string().get(blockType) || blockType != "text")
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

std::string cutText(std::string_view text, std::size_t limit)
{
    if (text::graphemeCount(text, limit) <= limit)
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

} // namespace

std::optional<ExtractedConversation> extractConversationFromJSONL(const std::string &path,
                                                                  std::uint64_t readFromOffset,
                                                                  std::int64_t maxChars)
{
    const auto file = io::openRegularFile(path);
    if (!file)
        return std::nullopt;
    const std::uint64_t size = file->size;
    if (size < minimumLogSize)
        return std::nullopt;

    std::optional<LogText> log;
    if (readFromOffset > 0 && readFromOffset < size) {
        const auto length = std::min(size - readFromOffset, incrementalReadLimit);
        const bool tailCut = readFromOffset + length < size;
        log = readLogText(*file, readFromOffset, length, tailCut ? Cut::headAndTail : Cut::head);
    } else if (size > largeLogThreshold) {
        log = readLogText(*file, size - tailLength, tailLength, Cut::head);
    } else {
        log = readLogText(*file, 0, size, Cut::none);
    }
    if (!log)
        return std::nullopt;

    std::vector<Message> messages;
    forEachObjectLine(*log, [&](od::object &object) {
        std::string_view type;
        if (object["type"].get_string().get(type) || (type != "user" && type != "assistant"))
            return;
        const bool fromUser = type == "user";
        od::object message;
        if (object["message"].get_object().get(message))
            return;
        od::value content;
        if (message["content"].get(content))
            return;
        auto text = contentText(content);
        if (!text)
            return;
        auto cleaned = filterNoiseFromMessage(*text, fromUser ? "user" : "assistant");
        if (!cleaned.empty())
            messages.push_back({fromUser, std::move(cleaned)});
    });
    if (messages.empty())
        return std::nullopt;

    // Newest first, as many entries as fit; then put back in chronological order.
    std::vector<std::string> entries;
    std::int64_t used = 0;
    for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
        std::string entry = makeEntry(*it, messageCut);
        const auto count = static_cast<std::int64_t>(text::graphemeCount(entry));
        if (used + count > maxChars)
            break;
        used += count;
        entries.push_back(std::move(entry));
    }
    if (entries.empty())
        return std::nullopt;
    std::string transcript;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        transcript += *it;
    return ExtractedConversation{std::move(transcript), static_cast<std::int64_t>(messages.size()), size};
}

namespace {

// The assistant text of one Copilot request's "response" array; empty when there is none.
std::string copilotResponseText(od::array response, bool &isArrayOfObjects)
{
    std::string joined;
    bool first = true;
    isArrayOfObjects = true;
    for (auto element : response) {
        od::object part;
        if (element.get_object().get(part)) {
            isArrayOfObjects = false;
            return {};
        }
        od::value value;
        if (part["value"].get(value))
            continue;
        std::string piece;
        od::json_type type;
        if (value.type().get(type))
            continue;
        if (type == od::json_type::string) {
            std::string_view s;
            if (value.get_string().get(s))
                continue;
            piece = s;
        } else if (type == od::json_type::object) {
            od::array content;
            if (value["content"].get_array().get(content))
                continue;
            bool firstValue = true;
            bool contentOfObjects = true;
            for (auto item : content) {
                od::object itemObject;
                if (item.get_object().get(itemObject)) {
                    contentOfObjects = false;
                    break;
                }
                std::string_view s;
                if (itemObject["value"].get_string().get(s))
                    continue;
                if (!firstValue)
                    piece += '\n';
                piece.append(s);
                firstValue = false;
            }
            if (!contentOfObjects)
                continue;
        } else {
            continue;
        }
        if (!first)
            joined += '\n';
        joined += piece;
        first = false;
    }
    return joined;
}

} // namespace

std::optional<std::string> extractCopilotJSONL(const std::string &path)
{
    const auto file = io::openRegularFile(path);
    if (!file)
        return std::nullopt;
    const auto log = readLogText(*file, 0, file->size, Cut::none);
    if (!log)
        return std::nullopt;

    std::vector<Message> messages;
    forEachObjectLine(*log, [&](od::object &record) {
        // get_int64 refuses 0.0 and "0": the kind must be the integer 0.
        std::int64_t kind = 0;
        if (record["kind"].get_int64().get(kind) || kind != 0)
            return;
        od::object v;
        od::array requests;
        if (record["v"].get_object().get(v) || v["requests"].get_array().get(requests))
            return;
        // The record counts only when every request is an object; collect aside first.
        std::vector<Message> found;
        for (auto element : requests) {
            od::object request;
            if (element.get_object().get(request))
                return;
            od::object message;
            std::string_view text;
            if (!request["message"].get_object().get(message) && !message["text"].get_string().get(text)
                && !text.empty())
                found.push_back({true, std::string(text)});
            od::array response;
            if (!request["response"].get_array().get(response)) {
                bool ofObjects = true;
                auto answer = copilotResponseText(response, ofObjects);
                if (ofObjects && !answer.empty())
                    found.push_back({false, std::move(answer)});
            }
        }
        for (auto &m : found)
            messages.push_back(std::move(m));
    });
    if (messages.empty())
        return std::nullopt;

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
