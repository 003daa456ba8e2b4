#include "loaders/Loaders.h"

#include "cache/LiteCache.h"
#include "conversation/CodexUserText.h"
#include "conversation/ContentBlockParserSimd.h"
#include "io/ReadFile.h"

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
    std::optional<bool> isSidechain;
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
        } else if (key == "isSidechain") {
            ondemand::value value = field.value();
            ondemand::json_type type;
            QUORRAL_TRY(value.type().get(type));
            if (type == ondemand::json_type::boolean) {
                bool flag = false;
                QUORRAL_TRY(value.get_bool().get(flag));
                record.isSidechain = flag;
            }
        } else if (key == "message") {
            record.message = MessageObject{};
            if (!readMessageObject(field.value(), record.message, form))
                return false;
        }
    }
    return conversation::ContentBlockParser::atEnd(document);
}

// Subagent logs sit in "<session>/subagents/", or beside the sessions as "agent-*.jsonl".
bool isSubagentLogPath(const std::string &path)
{
    const std::filesystem::path file(path);
    return file.parent_path().filename() == "subagents" || file.filename().string().starts_with("agent-");
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
    std::optional<bool> sidechain;
    auto loaded = loadSessionLog(path, error, form, ConversationSource::claudeCode,
                          [&sidechain](Record &record, std::optional<std::string> &sessionId, Conversation &conversation) {
                              if (!sidechain && record.isSidechain)
                                  sidechain = record.isSidechain;
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
    // A subagent's log carries its session's id: the flag, or the place it is kept, tells them apart.
    if (loaded)
        loaded->sidechain = sidechain.value_or(false) || isSubagentLogPath(path);
    return loaded;
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

std::string projectName(const std::string &path)
{
    // ~/.cursor/projects/<project>/agent-transcripts/[<id>/]<id>.jsonl: the folder that
    // holds the transcripts is the project, however deep they sit below it.
    std::filesystem::path ancestor(path);
    for (auto folder = ancestor.parent_path(); folder.has_relative_path(); folder = folder.parent_path())
        if (folder.filename() == "agent-transcripts")
            return folder.parent_path().filename().string();
    // Otherwise the folder three levels up names the project.
    for (int i = 0; i < 3; ++i)
        ancestor = ancestor.parent_path();
    return ancestor.filename().string();
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
    conversation.cwd = CursorLoader::projectName(path);
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

// ---- Codex and Gemini CLI: read with the DOM parser, lines of very different shapes --

namespace {

using DomElement = simdjson::dom::element;

std::optional<std::string> domString(DomElement element, const char *key)
{
    std::string_view text;
    if (element[key].get_string().get(text))
        return std::nullopt;
    return std::string(text);
}

// An object member as compact JSON: a JSON text given as a string is read as what it holds.
std::string compactArguments(DomElement value)
{
    std::string_view text;
    if (!value.get_string().get(text)) {
        simdjson::dom::parser parser;
        DomElement inner;
        if (!parser.parse(text).get(inner) && inner.is_object())
            return simdjson::minify(inner);
        return "{}";
    }
    return value.is_object() ? simdjson::minify(value) : std::string("{}");
}

// The texts of a content value: a string, or the "text" members of an array of objects.
std::vector<std::string> domTexts(DomElement content)
{
    std::vector<std::string> texts;
    std::string_view text;
    if (!content.get_string().get(text)) {
        texts.emplace_back(text);
        return texts;
    }
    simdjson::dom::array parts;
    if (content.get_array().get(parts))
        return texts;
    for (auto part : parts)
        if (auto t = domString(part, "text"))
            texts.push_back(std::move(*t));
    return texts;
}

struct SessionDetails {
    std::optional<std::string> id;
    std::optional<Instant> lastTime;
};

Message makeMessage(std::string id, MessageRole role, Instant at, std::vector<conversation::ContentBlock> blocks)
{
    return Message{std::move(id), role, at, std::move(blocks)};
}

// One Codex response item as a message: what was said, a tool call, a tool's output.
std::optional<Message> codexItemMessage(DomElement item, std::string id, Instant at)
{
    std::string_view type;
    if (item["type"].get_string().get(type))
        return std::nullopt;
    std::vector<conversation::ContentBlock> blocks;
    if (type == "message") {
        const auto role = domString(item, "role");
        const auto messageRole = role ? conversation::messageRoleFromRaw(*role) : std::nullopt;
        if (!messageRole)
            return std::nullopt;
        simdjson::dom::array parts;
        if (item["content"].get_array().get(parts))
            return std::nullopt;
        for (auto part : parts) {
            const auto partType = domString(part, "type");
            const auto text = domString(part, "text");
            if (partType && text && (*partType == "input_text" || *partType == "output_text" || *partType == "text")) {
                if (*messageRole == MessageRole::user) {
                    if (const auto typed = conversation::codexUserText(*text))
                        blocks.emplace_back(conversation::TextBlock{std::string(*typed)});
                } else {
                    blocks.emplace_back(conversation::TextBlock{*text});
                }
            } else if (partType == "input_image") {
                const auto url = domString(part, "image_url");
                blocks.emplace_back(conversation::ImageBlock{"unknown", url ? conversation::ImageSource{conversation::UrlImage{*url}}
                                                                            : conversation::ImageSource{conversation::UnknownImage{}}});
            }
        }
        if (blocks.empty())
            return std::nullopt;
        return makeMessage(std::move(id), *messageRole, at, std::move(blocks));
    }
    if (type == "function_call" || type == "custom_tool_call") {
        DomElement arguments;
        const bool has = !item["arguments"].get(arguments) || !item["input"].get(arguments);
        blocks.emplace_back(conversation::ToolUseBlock{domString(item, "name").value_or("unknown"),
                                                       has ? compactArguments(arguments) : std::string("{}")});
        return makeMessage(std::move(id), MessageRole::assistant, at, std::move(blocks));
    }
    if (type == "function_call_output" || type == "custom_tool_call_output") {
        DomElement output;
        if (item["output"].get(output))
            return std::nullopt;
        std::string text;
        if (auto texts = domTexts(output); !texts.empty()) {
            for (std::size_t i = 0; i < texts.size(); ++i)
                text += (i ? "\n" : "") + texts[i];
        } else if (auto t = domString(output, "text")) {
            text = std::move(*t);
        }
        blocks.emplace_back(conversation::ToolResultBlock{std::move(text)});
        return makeMessage(std::move(id), MessageRole::user, at, std::move(blocks));
    }
    if (type == "reasoning") {
        simdjson::dom::array summary;
        if (item["summary"].get_array().get(summary))
            return std::nullopt;
        for (auto part : summary)
            if (auto t = domString(part, "text"); t && !t->empty())
                blocks.emplace_back(conversation::ThinkingBlock{std::move(*t)});
        if (blocks.empty())
            return std::nullopt;
        return makeMessage(std::move(id), MessageRole::assistant, at, std::move(blocks));
    }
    return std::nullopt;
}

simdjson::dom::parser &domParser()
{
    thread_local simdjson::dom::parser parser;
    return parser;
}

// Calls `onRecord(object, index)` for every line that parses as a JSON object.
template <typename OnRecord>
void forEachDomRecord(const JsonLinesFile &file, OnRecord onRecord)
{
    file.forEachLine([&](std::string_view line, std::size_t index, padded_string_view padded) {
        if (!startsRecord(line))
            return;
        DomElement root;
        if (domParser().parse(padded.data(), padded.length(), false).get(root) || !root.is_object())
            return;
        onRecord(root, index);
    });
}

void finish(Conversation &conversation, const std::optional<std::string> &sessionId, const std::string &path)
{
    sortByTimestamp(conversation.messages);
    conversation.id = sessionId ? *sessionId : fileStem(path);
    conversation.startAt = conversation.messages.front().timestamp;
    conversation.endAt = conversation.messages.back().timestamp;
}

cache::LoadLitesResult plainLiteLoad(const std::vector<std::string> &paths, const cache::LiteCacheEntries &prior,
                                     std::optional<Conversation> (*load)(const std::string &, LoadError *))
{
    return cache::loadLites(paths, prior, [load](const std::string &path) -> std::optional<conversation::ConversationLite> {
        auto conversation = load(path, nullptr);
        if (!conversation)
            return std::nullopt;
        return conversation::ConversationLite::from(*conversation, conversation::fileURLFromPath(path));
    });
}

} // namespace

namespace CodexLoader {

std::string defaultSessionsDir(const std::string &home) { return home + "/.codex/sessions"; }

std::optional<Conversation> loadConversation(const std::string &path, LoadError *error)
{
    const auto modified = cache::modificationInstant(path);
    const auto file = JsonLinesFile::read(path, error);
    if (!file)
        return std::nullopt;
    Conversation conversation;
    conversation.source = ConversationSource::codex;
    std::optional<std::string> sessionId;
    // Records without a time of their own (the older form) take the last time seen.
    Instant at = modified.value_or(Instant::now());
    std::vector<Message> events;
    forEachDomRecord(*file, [&](DomElement record, std::size_t index) {
        if (const auto time = domString(record, "timestamp"))
            if (const auto parsed = parseInternetDateTime(*time))
                at = *parsed;
        const auto type = domString(record, "type");
        const std::string id = std::to_string(index);
        if (!type) { // the older form's header
            if (!sessionId)
                sessionId = domString(record, "id");
            return;
        }
        DomElement payload;
        const bool wrapped = !record["payload"].get(payload) && payload.is_object();
        if (*type == "session_meta" && wrapped) {
            if (!sessionId)
                sessionId = domString(payload, "id");
            if (conversation.cwd.empty())
                conversation.cwd = domString(payload, "cwd").value_or("");
            DomElement git;
            if (!conversation.gitBranch && !payload["git"].get(git))
                conversation.gitBranch = domString(git, "branch");
        } else if (*type == "response_item" && wrapped) {
            if (auto message = codexItemMessage(payload, id, at))
                conversation.messages.push_back(std::move(*message));
        } else if (*type == "event_msg" && wrapped) {
            const auto eventType = domString(payload, "type");
            const auto text = domString(payload, "message");
            if (!eventType || !text || (*eventType != "user_message" && *eventType != "agent_message"))
                return;
            const bool fromUser = *eventType == "user_message";
            const auto typed = fromUser ? conversation::codexUserText(*text) : std::optional<std::string_view>(*text);
            if (typed && !typed->empty())
                events.push_back(makeMessage(id, fromUser ? MessageRole::user : MessageRole::assistant, at,
                                             {conversation::TextBlock{std::string(*typed)}}));
        } else if (!wrapped) {
            if (auto message = codexItemMessage(record, id, at))
                conversation.messages.push_back(std::move(*message));
        }
    });
    // The message events repeat the items; they stand in only when there is no item.
    const bool anyText = std::any_of(conversation.messages.begin(), conversation.messages.end(), [](const Message &m) {
        return m.firstTextBlock().has_value();
    });
    if (!anyText)
        conversation.messages.insert(conversation.messages.end(), events.begin(), events.end());
    if (conversation.messages.empty())
        return std::nullopt;
    finish(conversation, sessionId, path);
    return conversation;
}

cache::LoadLitesResult loadAllLite(const std::string &directory, const cache::LiteCacheEntries &prior)
{
    return plainLiteLoad(enumerateCodexRollouts(directory), prior, loadConversation);
}

} // namespace CodexLoader

namespace GeminiCliLoader {

std::string defaultTmpDir(const std::string &home) { return home + "/.gemini/tmp"; }

namespace {

// One chat record as a message; absent for records of other kinds (info, errors, patches).
std::optional<Message> geminiMessage(DomElement record, std::size_t index, Instant fallback)
{
    const auto type = domString(record, "type");
    if (!type || (*type != "user" && *type != "gemini"))
        return std::nullopt;
    std::vector<conversation::ContentBlock> blocks;
    simdjson::dom::array thoughts;
    if (!record["thoughts"].get_array().get(thoughts))
        for (auto thought : thoughts) {
            const auto subject = domString(thought, "subject");
            const auto description = domString(thought, "description");
            if (subject || description)
                blocks.emplace_back(conversation::ThinkingBlock{
                    subject && description ? *subject + ": " + *description : subject ? *subject : *description});
        }
    DomElement content;
    if (!record["content"].get(content))
        for (auto &text : domTexts(content))
            if (!text.empty())
                blocks.emplace_back(conversation::TextBlock{std::move(text)});
    simdjson::dom::array calls;
    if (!record["toolCalls"].get_array().get(calls))
        for (auto call : calls) {
            if (!call.is_object())
                continue;
            DomElement args;
            blocks.emplace_back(conversation::ToolUseBlock{domString(call, "name").value_or("unknown"),
                                                           call["args"].get(args) ? std::string("{}") : compactArguments(args)});
        }
    if (blocks.empty())
        return std::nullopt;
    const auto time = domString(record, "timestamp");
    const auto at = time ? parseInternetDateTime(*time) : std::nullopt;
    return makeMessage(domString(record, "id").value_or(std::to_string(index)),
                       *type == "user" ? MessageRole::user : MessageRole::assistant, at.value_or(fallback),
                       std::move(blocks));
}

// Adds a message, or replaces the earlier copy written under the same id.
void addOrReplace(std::vector<Message> &messages, Message message)
{
    for (auto &existing : messages)
        if (existing.id == message.id) {
            existing = std::move(message);
            return;
        }
    messages.push_back(std::move(message));
}

// ~/.gemini/tmp/<project>/chats/<file>: newer versions name the project folder and keep its
// path beside the chats; older ones name it by a hash, which tells nothing.
std::string projectOf(const std::string &path)
{
    const auto project = std::filesystem::path(path).parent_path().parent_path();
    if (const auto root = io::readWholeFile((project / ".project_root").string())) {
        std::string text = *root;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        if (!text.empty())
            return text;
    }
    const auto name = project.filename().string();
    const bool hash = name.size() == 64 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
    return hash ? std::string() : name;
}

} // namespace

std::optional<Conversation> loadConversation(const std::string &path, LoadError *error)
{
    const auto file = JsonLinesFile::read(path, error);
    if (!file)
        return std::nullopt;
    const Instant fallback = cache::modificationInstant(path).value_or(Instant::now());
    Conversation conversation;
    conversation.source = ConversationSource::geminiCli;
    std::optional<std::string> sessionId;
    if (path.ends_with(".jsonl")) {
        forEachDomRecord(*file, [&](DomElement record, std::size_t index) {
            if (!sessionId)
                sessionId = domString(record, "sessionId");
            if (auto message = geminiMessage(record, index, fallback))
                addOrReplace(conversation.messages, std::move(*message));
        });
    } else {
        DomElement root;
        simdjson::dom::array list;
        if (domParser().parse(file->text().data(), file->text().size(), false).get(root) || !root.is_object())
            return std::nullopt;
        sessionId = domString(root, "sessionId");
        if (!root["messages"].get_array().get(list)) {
            std::size_t index = 0;
            for (auto record : list)
                if (auto message = geminiMessage(record, index++, fallback))
                    addOrReplace(conversation.messages, std::move(*message));
        }
    }
    if (conversation.messages.empty())
        return std::nullopt;
    conversation.cwd = projectOf(path);
    finish(conversation, sessionId, path);
    return conversation;
}

cache::LoadLitesResult loadAllLite(const std::string &directory, const cache::LiteCacheEntries &prior)
{
    return plainLiteLoad(enumerateGeminiChats(directory), prior, loadConversation);
}

} // namespace GeminiCliLoader

std::optional<Conversation> loadConversationFor(ConversationSource source, const std::string &path)
{
    switch (source) {
    case ConversationSource::claudeCode: return ClaudeCodeLoader::loadConversation(path);
    case ConversationSource::cursor: return CursorLoader::loadConversation(path);
    case ConversationSource::openclaw: return OpenClawLoader::loadConversation(path);
    case ConversationSource::codex: return CodexLoader::loadConversation(path);
    case ConversationSource::geminiCli: return GeminiCliLoader::loadConversation(path);
    case ConversationSource::vscodeCopilot:
    case ConversationSource::doubao: return std::nullopt;
    }
    return std::nullopt;
}

} // namespace quorral::loaders
