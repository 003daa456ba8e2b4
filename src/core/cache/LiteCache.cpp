#include "cache/LiteCache.h"

#include "conversation/ContentBlockParserSimd.h"

#include "io/AtomicWrite.h"
#include "io/ReadFile.h"
#include "platform/HomeDirectory.h"

#include <simdjson.h>

#include <charconv>

namespace quorral::cache {
namespace {

using namespace simdjson;
using conversation::ConversationLite;
using conversation::Instant;

void appendNumber(std::string &out, double value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendString(std::string &out, std::string_view text)
{
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    std::size_t clean = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(text.data() + clean, i - clean);
        clean = i + 1;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    out.append(text.data() + clean, text.size() - clean);
    out += '"';
}

void appendLite(std::string &out, const ConversationLite &lite)
{
    out += "{\"id\":";
    appendString(out, lite.id);
    out += ",\"source\":";
    appendString(out, conversation::rawValue(lite.source));
    out += ",\"startAt\":";
    appendNumber(out, lite.startAt.secondsSince2001);
    out += ",\"endAt\":";
    appendNumber(out, lite.endAt.secondsSince2001);
    out += ",\"cwd\":";
    appendString(out, lite.cwd);
    if (lite.gitBranch) {
        out += ",\"gitBranch\":";
        appendString(out, *lite.gitBranch);
    }
    out += ",\"preview\":";
    appendString(out, lite.preview);
    out += ",\"messageCount\":";
    out += std::to_string(lite.messageCount);
    out += ",\"fileURL\":";
    appendString(out, lite.fileURL);
    out += ",\"searchableText\":";
    appendString(out, lite.searchableText.view());
    out += '}';
}

#define QUORRAL_TRY(expression)                                                                                        \
    do {                                                                                                               \
        if ((expression) != SUCCESS)                                                                                   \
            return false;                                                                                              \
    } while (false)

bool readText(ondemand::value value, std::string &into)
{
    std::string_view text;
    QUORRAL_TRY(value.get_string().get(text));
    into.assign(text);
    return true;
}

bool readLite(ondemand::value value, ConversationLite &lite)
{
    ondemand::object object;
    QUORRAL_TRY(value.get_object().get(object));
    unsigned seen = 0;
    for (auto fieldResult : object) {
        ondemand::field field;
        QUORRAL_TRY(std::move(fieldResult).get(field));
        std::string_view key;
        QUORRAL_TRY(field.unescaped_key().get(key));
        if (key == "id") {
            if (!readText(field.value(), lite.id))
                return false;
            seen |= 1;
        } else if (key == "source") {
            std::string_view raw;
            QUORRAL_TRY(field.value().get_string().get(raw));
            const auto source = conversation::conversationSourceFromRaw(raw);
            if (!source)
                return false;
            lite.source = *source;
            seen |= 2;
        } else if (key == "startAt") {
            QUORRAL_TRY(field.value().get_double().get(lite.startAt.secondsSince2001));
            seen |= 4;
        } else if (key == "endAt") {
            QUORRAL_TRY(field.value().get_double().get(lite.endAt.secondsSince2001));
            seen |= 8;
        } else if (key == "cwd") {
            if (!readText(field.value(), lite.cwd))
                return false;
            seen |= 16;
        } else if (key == "gitBranch") {
            bool isNull = false;
            QUORRAL_TRY(field.value().is_null().get(isNull));
            if (!isNull) {
                std::string branch;
                if (!readText(field.value(), branch))
                    return false;
                lite.gitBranch = std::move(branch);
            }
        } else if (key == "preview") {
            if (!readText(field.value(), lite.preview))
                return false;
            seen |= 32;
        } else if (key == "messageCount") {
            QUORRAL_TRY(field.value().get_int64().get(lite.messageCount));
            seen |= 64;
        } else if (key == "fileURL") {
            if (!readText(field.value(), lite.fileURL))
                return false;
            seen |= 128;
        } else if (key == "searchableText") {
            std::string text;
            if (!readText(field.value(), text))
                return false;
            lite.searchableText = std::move(text);
            seen |= 256;
        }
    }
    return seen == 511;
}

bool readEntry(ondemand::value value, LiteCacheEntry &entry)
{
    ondemand::object object;
    QUORRAL_TRY(value.get_object().get(object));
    bool hasTime = false, hasLite = false;
    for (auto fieldResult : object) {
        ondemand::field field;
        QUORRAL_TRY(std::move(fieldResult).get(field));
        std::string_view key;
        QUORRAL_TRY(field.unescaped_key().get(key));
        if (key == "mtime") {
            QUORRAL_TRY(field.value().get_double().get(entry.mtime.secondsSince2001));
            hasTime = true;
        } else if (key == "lite") {
            if (!readLite(field.value(), entry.lite))
                return false;
            hasLite = true;
        }
    }
    return hasTime && hasLite;
}

bool readEntries(ondemand::value value, LiteCacheEntries &entries)
{
    ondemand::object object;
    QUORRAL_TRY(value.get_object().get(object));
    for (auto fieldResult : object) {
        ondemand::field field;
        QUORRAL_TRY(std::move(fieldResult).get(field));
        std::string_view key;
        QUORRAL_TRY(field.unescaped_key().get(key));
        std::string path(key);
        LiteCacheEntry entry;
        if (!readEntry(field.value(), entry))
            return false;
        entries.insert_or_assign(std::move(path), std::move(entry));
    }
    return true;
}

} // namespace

std::string LiteCache::defaultCacheFile(const std::string &home)
{
    return platform::cacheDirectory(home) + "/Quorral/lite-cache-v1.json";
}

std::string LiteCache::encode(const LiteCacheEntries &entries)
{
    std::size_t estimate = 64;
    for (const auto &[path, entry] : entries)
        estimate += path.size() + entry.lite.searchableText.size() + 512;
    std::string out;
    out.reserve(estimate);
    out += "{\"version\":1,\"entries\":{";
    bool first = true;
    for (const auto &[path, entry] : entries) {
        if (!first)
            out += ',';
        first = false;
        appendString(out, path);
        out += ":{\"mtime\":";
        appendNumber(out, entry.mtime.secondsSince2001);
        out += ",\"lite\":";
        appendLite(out, entry.lite);
        out += '}';
    }
    out += "}}";
    return out;
}

namespace {

std::optional<LiteCacheEntries> decodePadded(padded_string_view padded)
{
    ondemand::parser parser;
    ondemand::document document;
    if (parser.iterate(padded).get(document) != SUCCESS)
        return std::nullopt;
    ondemand::object envelope;
    if (document.get_object().get(envelope) != SUCCESS)
        return std::nullopt;
    std::optional<std::int64_t> cacheVersion;
    LiteCacheEntries entries;
    bool hasEntries = false;
    for (auto fieldResult : envelope) {
        ondemand::field field;
        std::string_view key;
        if (std::move(fieldResult).get(field) != SUCCESS || field.unescaped_key().get(key) != SUCCESS)
            return std::nullopt;
        if (key == "version") {
            std::int64_t number = 0;
            if (field.value().get_int64().get(number) != SUCCESS)
                return std::nullopt;
            cacheVersion = number;
        } else if (key == "entries") {
            if (!readEntries(field.value(), entries))
                return std::nullopt;
            hasEntries = true;
        }
    }
    if (!conversation::ContentBlockParser::atEnd(document) || !cacheVersion || !hasEntries || *cacheVersion != LiteCache::version)
        return std::nullopt;
    return entries;
}

} // namespace

std::optional<LiteCacheEntries> LiteCache::decode(std::string_view json)
{
    const padded_string padded(json);
    return decodePadded(padded);
}

LiteCacheEntries LiteCache::load() const
{
    // Read straight into the parser's padded buffer: the file can be hundreds of megabytes.
    const auto file = io::openRegularFile(m_cacheFile);
    if (!file)
        return {};
    padded_string buffer(static_cast<std::size_t>(file->size));
    const auto read = io::readInto(*file, 0, buffer.data(), buffer.size());
    if (!read || *read != buffer.size())
        return {};
    return decodePadded(buffer).value_or(LiteCacheEntries{});
}

void LiteCache::save(const LiteCacheEntries &entries) const
{
    const std::string bytes = encode(entries);
    io::createDirectories(io::parentDirectory(m_cacheFile));
    io::writeFileAtomically(m_cacheFile, bytes);
}

std::string roundTripDecimal(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    std::string text(buffer, result.ptr);
    if (text.find('.') == std::string::npos)
        text += ".0";
    return text;
}

} // namespace quorral::cache
