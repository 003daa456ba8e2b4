#include "scan/TranscriptExtraction.h"

#include "io/ReadFile.h"
#include "scan/NoiseFilter.h"
#include "text/Unicode.h"

#include <simdjson.h>

#include <cstring>
#include <memory>
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
    const auto lastFeed = data.rfind('\n');
    const std::size_t linesEnd = lastFeed == std::string_view::npos || lastFeed < log.begin ? log.begin : lastFeed + 1;
    if (!text::isValidUtf8(data.substr(log.begin, linesEnd - log.begin)))
        return std::nullopt;
    if (!text::isValidUtf8(data.substr(linesEnd)))
        log.end = linesEnd;
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
                                                                  std::int64_t maxChars)
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
    forEachObjectLine(*log, [&](ObjectLine &line) {
        std::string_view type;
        if (line.object["type"].get_string().get(type) || (type != "user" && type != "assistant"))
            return;
        const bool fromUser = type == "user";
        od::object message;
        if (line.object["message"].get_object().get(message))
            return;
        od::value content;
        if (message["content"].get(content))
            return;
        auto text = contentText(content);
        if (!text)
            return;
        auto cleaned = filterNoiseFromMessage(*text, fromUser ? "user" : "assistant");
        if (!cleaned.empty() && check.wellFormed(line.text))
            messages.push_back({fromUser, std::move(cleaned)});
    });

    ExtractedConversation result;
    result.messageCount = static_cast<std::int64_t>(messages.size());
    result.nextOffset = start + nextReadPosition(*log, check, windowCut);
    result.reachedEnd = !windowCut;

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
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        result.content += *it;
    return result;
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
    const auto log = readLogText(*file, 0, file->size, true);
    if (!log)
        return std::nullopt;

    LineCheck check;
    std::vector<Message> messages;
    forEachObjectLine(*log, [&](ObjectLine &line) {
        od::object &record = line.object;
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
        if (found.empty() || !check.wellFormed(line.text))
            return;
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
