#include "loaders/Loaders.h"

#include "cache/LiteCache.h"
#include "conversation/ContentBlockParserSimd.h"

#include <algorithm>
#include <filesystem>

namespace quorral::loaders {
namespace {

using namespace simdjson;
using conversation::Conversation;
using conversation::ConversationSource;
using conversation::Instant;
using conversation::Message;
using conversation::MessageRole;
using conversation::ContentBlockParser::TextForm;

#define QUORRAL_TRY(expression)                                                                                        \
    do {                                                                                                               \
        if ((expression) != SUCCESS)                                                                                   \
            return false;                                                                                              \
    } while (false)

ondemand::parser &lineParser()
{
    thread_local ondemand::parser parser;
    return parser;
}

// A string member's text, absent when it is of another type; false on malformed JSON.
bool readOptionalString(ondemand::value value, std::optional<std::string> &into)
{
    return conversation::ContentBlockParser::readString(value, into) == SUCCESS;
}

// The "content" of a "message" object (and its "role" where the tool keeps it there).
struct MessageObject {
    bool present = false;
    std::optional<std::string> role;
    std::vector<conversation::ContentBlock> blocks;
};

bool readMessageObject(ondemand::value value, MessageObject &message, TextForm form)
{
    ondemand::json_type type;
    QUORRAL_TRY(value.type().get(type));
    if (type != ondemand::json_type::object)
        return true;
    ondemand::object object;
    QUORRAL_TRY(value.get_object().get(object));
    message.present = true;
    for (auto fieldResult : object) {
        ondemand::field field;
        QUORRAL_TRY(std::move(fieldResult).get(field));
        std::string_view key;
        QUORRAL_TRY(field.unescaped_key().get(key));
        if (key == "content") {
            QUORRAL_TRY(conversation::ContentBlockParser::parseValue(field.value(), message.blocks, form));
        } else if (key == "role") {
            if (!readOptionalString(field.value(), message.role))
                return false;
        }
    }
    return true;
}

// Every member of one record the three log formats use, read in a single pass. False
// when the line is not one JSON object.
struct Record {
    std::optional<std::string> type, uuid, id, timestamp, cwd, gitBranch, sessionId, role;
    MessageObject message;
};

bool readRecord(padded_string_view line, Record &record, TextForm form = TextForm::plain)
{
    ondemand::document document;
    QUORRAL_TRY(lineParser().iterate(line).get(document));
    ondemand::object object;
    QUORRAL_TRY(document.get_object().get(object));
    for (auto fieldResult : object) {
        ondemand::field field;
        QUORRAL_TRY(std::move(fieldResult).get(field));
        std::string_view key;
        QUORRAL_TRY(field.unescaped_key().get(key));
        std::optional<std::string> *target = nullptr;
        if (key == "type")
            target = &record.type;
        else if (key == "uuid")
            target = &record.uuid;
        else if (key == "id")
            target = &record.id;
        else if (key == "timestamp")
            target = &record.timestamp;
        else if (key == "cwd")
            target = &record.cwd;
        else if (key == "gitBranch")
            target = &record.gitBranch;
        else if (key == "sessionId")
            target = &record.sessionId;
        else if (key == "role")
            target = &record.role;
        if (target) {
            target->reset();
            if (!readOptionalString(field.value(), *target))
                return false;
        } else if (key == "message") {
            record.message = MessageObject{};
            if (!readMessageObject(field.value(), record.message, form))
                return false;
        }
    }
    return conversation::ContentBlockParser::atEnd(document);
}

bool startsRecord(std::string_view line) { return !line.empty() && line.front() == '{'; }

std::optional<Record> recordOf(std::string_view line)
{
    if (!startsRecord(line))
        return std::nullopt;
    const padded_string padded(line);
    Record record;
    if (!readRecord(padded, record))
        return std::nullopt;
    return record;
}

std::optional<Instant> timestampOf(const std::optional<std::string> &text)
{
    return text ? parseInternetDateTime(*text) : std::nullopt;
}

std::optional<Message> claudeMessage(Record &record)
{
    const auto role = record.type ? conversation::messageRoleFromRaw(*record.type) : std::nullopt;
    const auto timestamp = timestampOf(record.timestamp);
    if (!role || !record.uuid || !timestamp || !record.message.present)
        return std::nullopt;
    return Message{std::move(*record.uuid), *role, *timestamp, std::move(record.message.blocks)};
}

std::optional<Message> openClawMessage(Record &record)
{
    if (record.type != "message" || !record.id || !record.message.present)
        return std::nullopt;
    const auto timestamp = timestampOf(record.timestamp);
    const auto role = record.message.role ? conversation::messageRoleFromRaw(*record.message.role) : std::nullopt;
    if (!timestamp || !role)
        return std::nullopt;
    return Message{std::move(*record.id), *role, *timestamp, std::move(record.message.blocks)};
}

std::optional<Message> cursorMessage(Record &record, Instant fileTimestamp, std::size_t lineIndex)
{
    const auto role = record.role ? conversation::messageRoleFromRaw(*record.role) : std::nullopt;
    if (!role || !record.message.present || record.message.blocks.empty())
        return std::nullopt;
    return Message{CursorLoader::messageId(fileTimestamp, lineIndex), *role,
                   Instant{fileTimestamp.secondsSince2001 + static_cast<double>(lineIndex) / 1000.0},
                   std::move(record.message.blocks)};
}

void sortByTimestamp(std::vector<Message> &messages)
{
    std::stable_sort(messages.begin(), messages.end(),
                     [](const Message &a, const Message &b) { return a.timestamp < b.timestamp; });
}

std::vector<Conversation> loadEach(const std::vector<std::string> &paths,
                                   std::optional<Conversation> (*load)(const std::string &, LoadError *))
{
    std::vector<Conversation> conversations;
    for (const auto &path : paths)
        if (auto conversation = load(path, nullptr))
            conversations.push_back(std::move(*conversation));
    std::stable_sort(conversations.begin(), conversations.end(),
                     [](const Conversation &a, const Conversation &b) { return a.startAt > b.startAt; });
    return conversations;
}

using LoadInForm = std::optional<Conversation> (*)(const std::string &, LoadError *, TextForm);

// Summaries are made from the texts as the log escapes them: most are neither decoded nor
// escaped again for the cache.
cache::LoadLitesResult liteLoad(const std::vector<std::string> &paths, const cache::LiteCacheEntries &prior,
                                LoadInForm load)
{
    return cache::loadLites(paths, prior, [load](const std::string &path) -> std::optional<conversation::ConversationLite> {
        auto conversation = load(path, nullptr, TextForm::jsonEscaped);
        if (!conversation)
            return std::nullopt;
        return conversation::ConversationLite::fromJsonEscaped(*conversation, conversation::fileURLFromPath(path));
    });
}

// Every line of the log that is a record, with the line's index.
template <typename OnRecord>
void forEachRecord(const JsonLinesFile &file, TextForm form, OnRecord onRecord)
{
    file.forEachLine([&](std::string_view line, std::size_t index, padded_string_view padded) {
        if (!startsRecord(line))
            return;
        Record record;
        if (readRecord(padded, record, form))
            onRecord(record, index);
    });
}

// The loop the Claude Code and OpenClaw loaders share: every record of the log goes to
// `onRecord(record, sessionId, conversation)`, which takes the session's details and
// returns the record's message if it is one; the messages end up sorted by time.
template <typename OnRecord>
std::optional<Conversation> loadSessionLog(const std::string &path, LoadError *error, TextForm form,
                                           ConversationSource source, OnRecord onRecord)
{
    const auto file = JsonLinesFile::read(path, error);
    if (!file)
        return std::nullopt;
    Conversation conversation;
    conversation.source = source;
    std::optional<std::string> sessionId;
    forEachRecord(*file, form, [&](Record &record, std::size_t) {
        if (auto message = onRecord(record, sessionId, conversation))
            conversation.messages.push_back(std::move(*message));
    });
    if (conversation.messages.empty())
        return std::nullopt;
    sortByTimestamp(conversation.messages);
    conversation.id = sessionId ? *sessionId : fileStem(path);
    conversation.startAt = conversation.messages.front().timestamp;
    conversation.endAt = conversation.messages.back().timestamp;
    return conversation;
}

} // namespace

// ---- Claude Code ---------------------------------------------------------------------

namespace ClaudeCodeLoader {

std::string defaultProjectsDir(const std::string &home) { return home + "/.claude/projects"; }

std::vector<std::string> enumerateJsonl(const std::string &directory) { return loaders::enumerateJsonl(directory); }

std::optional<Message> parseLine(std::string_view line)
{
    auto record = recordOf(line);
    return record ? claudeMessage(*record) : std::nullopt;
}

// In either text form; the public loader reads the texts as they are.
static std::optional<Conversation> load(const std::string &path, LoadError *error, TextForm form)
{
    return loadSessionLog(path, error, form, ConversationSource::claudeCode,
                          [](Record &record, std::optional<std::string> &sessionId, Conversation &conversation) {
                              // The session's details come from the first records that carry them.
                              if (conversation.cwd.empty() || !sessionId) {
                                  if (conversation.cwd.empty() && record.cwd)
                                      conversation.cwd = *record.cwd;
                                  if (!conversation.gitBranch && record.gitBranch)
                                      conversation.gitBranch = record.gitBranch;
                                  if (!sessionId && record.sessionId)
                                      sessionId = record.sessionId;
                              }
                              return claudeMessage(record);
                          });
}

std::optional<Conversation> loadConversation(const std::string &path, LoadError *error)
{
    return load(path, error, TextForm::plain);
}

std::vector<Conversation> loadAll(const std::string &directory)
{
    return loadEach(enumerateJsonl(directory), loadConversation);
}

cache::LoadLitesResult loadAllLite(const std::string &directory, const cache::LiteCacheEntries &prior)
{
    return liteLoad(enumerateJsonl(directory), prior, load);
}

} // namespace ClaudeCodeLoader

// ---- Cursor --------------------------------------------------------------------------

namespace CursorLoader {

std::string defaultProjectsDir(const std::string &home) { return home + "/.cursor/projects"; }

std::vector<std::string> enumerateJsonl(const std::string &directory) { return loaders::enumerateJsonl(directory); }

std::string messageId(Instant fileTimestamp, std::size_t lineIndex)
{
    return cache::roundTripDecimal(fileTimestamp.unixSeconds()) + "-" + std::to_string(lineIndex);
}

std::optional<Message> parseLine(std::string_view line, Instant fileTimestamp, std::size_t lineIndex)
{
    auto record = recordOf(line);
    return record ? cursorMessage(*record, fileTimestamp, lineIndex) : std::nullopt;
}

// In either text form; the public loader reads the texts as they are.
static std::optional<Conversation> load(const std::string &path, LoadError *error, TextForm form)
{
    const auto fileTimestamp = cache::modificationInstant(path);
    if (!fileTimestamp) {
        if (error)
            *error = LoadError{path, "has no readable attributes"};
        return std::nullopt;
    }
    const auto file = JsonLinesFile::read(path, error);
    if (!file)
        return std::nullopt;
    Conversation conversation;
    conversation.source = ConversationSource::cursor;
    forEachRecord(*file, form, [&](Record &record, std::size_t index) {
        if (auto message = cursorMessage(record, *fileTimestamp, index))
            conversation.messages.push_back(std::move(*message));
    });
    if (conversation.messages.empty())
        return std::nullopt;
    conversation.id = fileStem(path);
    // The folder three levels up names the project.
    std::filesystem::path ancestor(path);
    for (int i = 0; i < 3; ++i)
        ancestor = ancestor.parent_path();
    conversation.cwd = ancestor.filename().string();
    conversation.startAt = conversation.messages.front().timestamp;
    conversation.endAt = conversation.messages.back().timestamp;
    return conversation;
}

std::optional<Conversation> loadConversation(const std::string &path, LoadError *error)
{
    return load(path, error, TextForm::plain);
}

std::vector<Conversation> loadAll(const std::string &directory)
{
    return loadEach(enumerateJsonl(directory), loadConversation);
}

cache::LoadLitesResult loadAllLite(const std::string &directory, const cache::LiteCacheEntries &prior)
{
    return liteLoad(enumerateJsonl(directory), prior, load);
}

} // namespace CursorLoader

// ---- OpenClaw ------------------------------------------------------------------------

namespace OpenClawLoader {

std::string defaultRootDir(const std::string &home) { return home + "/.openclaw/agents"; }

std::vector<std::string> enumerateSessionJsonl(const std::string &root) { return loaders::enumerateSessionJsonl(root); }

std::optional<Message> parseLine(std::string_view line)
{
    auto record = recordOf(line);
    return record ? openClawMessage(*record) : std::nullopt;
}

// In either text form; the public loader reads the texts as they are.
static std::optional<Conversation> load(const std::string &path, LoadError *error, TextForm form)
{
    return loadSessionLog(path, error, form, ConversationSource::openclaw,
                          [](Record &record, std::optional<std::string> &sessionId, Conversation &conversation) {
                              // A session record names the folder and the session, the latest one winning.
                              if ((conversation.cwd.empty() || !sessionId) && record.type == "session") {
                                  if (record.cwd)
                                      conversation.cwd = *record.cwd;
                                  if (record.id)
                                      sessionId = record.id;
                              }
                              return openClawMessage(record);
                          });
}

std::optional<Conversation> loadConversation(const std::string &path, LoadError *error)
{
    return load(path, error, TextForm::plain);
}

std::vector<Conversation> loadAll(const std::string &root)
{
    return loadEach(enumerateSessionJsonl(root), loadConversation);
}

cache::LoadLitesResult loadAllLite(const std::string &root, const cache::LiteCacheEntries &prior)
{
    return liteLoad(enumerateSessionJsonl(root), prior, load);
}

} // namespace OpenClawLoader

std::optional<Conversation> loadConversationFor(ConversationSource source, const std::string &path)
{
    switch (source) {
    case ConversationSource::claudeCode: return ClaudeCodeLoader::loadConversation(path);
    case ConversationSource::cursor: return CursorLoader::loadConversation(path);
    case ConversationSource::openclaw: return OpenClawLoader::loadConversation(path);
    case ConversationSource::vscodeCopilot:
    case ConversationSource::doubao: return std::nullopt;
    }
    return std::nullopt;
}

} // namespace quorral::loaders
