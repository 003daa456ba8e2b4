#include "cache/LiteCache.h"

#include "conversation/ContentBlockParserSimd.h"

#include "io/AtomicWrite.h"
#include "io/MappedFile.h"
#include "io/TextArena.h"
#include "parallel/WeightedRuns.h"
#include "io/ReadFile.h"
#include "platform/HomeDirectory.h"
#include "text/JsonString.h"

#include <simdjson.h>

#include <charconv>
#include <cstring>

namespace quorral::cache {
namespace {

using namespace simdjson;
using conversation::ConversationLite;
using conversation::Instant;
using conversation::SharedText;

// Where the writer puts its text: a string, or a file written as it goes.
struct StringSink {
    std::string text;
    std::string &buffer() { return text; }
    void flushIfLarge() {}
};

void appendNumber(std::string &out, double value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendString(std::string &out, std::string_view text)
{
    out += '"';
    text::appendJsonEscaped(out, text);
    out += '"';
}

void appendText(std::string &out, const SharedText &text)
{
    if (!text.isJsonEscaped())
        return appendString(out, text.stored());
    out += '"';
    out += text.stored();
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
    if (lite.sidechain)
        out += ",\"sidechain\":true";
    out += ",\"searchableText\":";
    appendText(out, lite.searchableText);
    out += '}';
}

#define QUORRAL_TRY(expression)                                                                                        \
    do {                                                                                                               \
        if ((expression) != SUCCESS)                                                                                   \
            return false;                                                                                              \
    } while (false)

// Where the texts of the entries decoded by one thread go.
struct TextHome {
    std::shared_ptr<const void> cacheBytes;
    std::shared_ptr<io::TextArena> arena;
};

// The searchable text: where the cache holds it in the form this program writes, a view
// of the cache's own bytes; otherwise decoded into the arena.
bool readSearchableText(ondemand::value value, const TextHome &home, SharedText &into)
{
    const auto raw = text::jsonStringContent(value.raw_json_token());
    if (!raw)
        return false;
    if (text::isCanonicalJsonEscaped(*raw)) {
        into = SharedText::fromJsonEscaped(home.cacheBytes, *raw);
        return true;
    }
    char *out = home.arena ? home.arena->allocate(raw->size()) : nullptr;
    std::size_t written = 0;
    if (!out || !text::unescapeJsonString(*raw, out, written))
        return false;
    home.arena->giveBack(raw->size() - written);
    into = SharedText(home.arena, std::string_view(out, written));
    return true;
}

bool readText(ondemand::value value, std::string &into)
{
    std::string_view text;
    QUORRAL_TRY(value.get_string().get(text));
    into.assign(text);
    return true;
}

bool readLite(ondemand::value value, ConversationLite &lite, const TextHome &texts)
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
        } else if (key == "sidechain") {
            QUORRAL_TRY(field.value().get_bool().get(lite.sidechain));
        } else if (key == "searchableText") {
            if (!readSearchableText(field.value(), texts, lite.searchableText))
                return false;
            seen |= 256;
        }
    }
    return seen == 511;
}

bool readEntry(ondemand::value value, LiteCacheEntry &entry, const TextHome &texts)
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
            if (!readLite(field.value(), entry.lite, texts))
                return false;
            hasLite = true;
        }
    }
    return hasTime && hasLite;
}

// `consumed(position)` is told how far the input has been read after every entry.
// The entries are decoded on all cores: one pass finds each entry's span (the parser skips
// over an object without decoding it), then each core decodes a contiguous run of spans
// with a parser and an arena of its own.
bool readEntries(ondemand::value value, LiteCacheEntries &entries, padded_string_view whole,
                 const std::shared_ptr<const void> &wholeOwner)
{
    ondemand::object object;
    QUORRAL_TRY(value.get_object().get(object));
    std::vector<std::pair<std::string, std::string_view>> spans;
    for (auto fieldResult : object) {
        ondemand::field field;
        QUORRAL_TRY(std::move(fieldResult).get(field));
        std::string_view key, span;
        QUORRAL_TRY(field.unescaped_key().get(key));
        ondemand::object entryObject;
        QUORRAL_TRY(field.value().get_object().get(entryObject));
        QUORRAL_TRY(entryObject.raw_json().get(span));
        spans.emplace_back(std::string(key), span);
    }
    const char *end = whole.data() + whole.size() + SIMDJSON_PADDING;
    std::vector<std::optional<LiteCacheEntry>> decoded(spans.size());
    const auto decodeRange = [&](std::size_t first, std::size_t last) {
        std::size_t bytes = 0;
        for (std::size_t i = first; i < last; ++i)
            bytes += spans[i].second.size();
        // Only texts in another escaped form are decoded into it; the arena reserves
        // address space, and memory only as it is written.
        const TextHome texts{wholeOwner, io::TextArena::create(bytes)};
        ondemand::parser parser;
        for (std::size_t i = first; i < last; ++i) {
            const auto span = spans[i].second;
            ondemand::document document;
            ondemand::value entryValue;
            LiteCacheEntry entry;
            if (parser.iterate(padded_string_view(span.data(), span.size(), static_cast<std::size_t>(end - span.data())))
                        .get(document) != SUCCESS ||
                document.get_value().get(entryValue) != SUCCESS || !readEntry(entryValue, entry, texts))
                return; // leaves this entry empty: the whole cache is then rejected
            decoded[i] = std::move(entry);
        }
    };
    parallel::forEachWeightedRun(
        spans.size(), 16u << 20, [&](std::size_t i) { return spans[i].second.size(); }, decodeRange);
    for (std::size_t i = 0; i < spans.size(); ++i) {
        if (!decoded[i])
            return false;
        entries.insert_or_assign(std::move(spans[i].first), std::move(*decoded[i]));
    }
    return true;
}

} // namespace

std::string LiteCache::defaultCacheFile(const std::string &home)
{
    return platform::cacheDirectory(home) + "/Quorral/lite-cache-v1.json";
}

template <typename Sink>
void writeEnvelope(Sink &sink, const LiteCacheEntries &entries)
{
    sink.buffer() += "{\"version\":" + std::to_string(LiteCache::version) + ",\"entries\":{";
    bool first = true;
    for (const auto &[path, entry] : entries) {
        std::string &out = sink.buffer();
        if (!first)
            out += ',';
        first = false;
        appendString(out, path);
        out += ":{\"mtime\":";
        appendNumber(out, entry.mtime.secondsSince2001);
        out += ",\"lite\":";
        appendLite(out, entry.lite);
        out += '}';
        sink.flushIfLarge();
    }
    sink.buffer() += "}}";
}

std::string LiteCache::encode(const LiteCacheEntries &entries)
{
    StringSink sink;
    writeEnvelope(sink, entries);
    return std::move(sink.text);
}

namespace {

// `owner` keeps the bytes of `padded` alive for the texts that stay there.
std::optional<LiteCacheEntries> decodePadded(padded_string_view padded, const std::shared_ptr<const void> &owner)
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
            if (!readEntries(field.value(), entries, padded, owner))
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
    const auto padded = std::make_shared<const padded_string>(json);
    return decodePadded(*padded, padded);
}

LiteCacheEntries LiteCache::load() const
{
    // Mapped, not copied: the file can be hundreds of megabytes, and its texts are used
    // where they lie. The cache is only ever replaced by a rename, so the mapped file does
    // not change under the summaries that point into it.
    auto mapping = io::MappedFile::open(m_cacheFile, SIMDJSON_PADDING);
    if (!mapping)
        return {};
    const auto shared = std::make_shared<const io::MappedFile>(std::move(*mapping));
    const padded_string_view view(shared->data(), shared->size(), shared->size() + SIMDJSON_PADDING);
    return decodePadded(view, shared).value_or(LiteCacheEntries{});
}

void LiteCache::save(const LiteCacheEntries &entries) const
{
    io::createDirectories(io::parentDirectory(m_cacheFile));
    // The summaries quote every conversation: readable by the user only, an older cache too.
    io::AtomicFileWriter writer(m_cacheFile, {.temporarySuffix = ".tmp", .mode = 0600, .keepExistingMode = false});
    writeEnvelope(writer, entries);
    writer.commit(); // a failure leaves the previous cache in place
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
