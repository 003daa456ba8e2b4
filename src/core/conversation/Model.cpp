#include "conversation/Model.h"

#include "io/TextArena.h"
#include "text/JsonString.h"
#include "text/Unicode.h"

#include <chrono>
#include <cstring>

namespace quorral::conversation {

Instant Instant::now()
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
    return fromUnixParts(ns / 1'000'000'000, ns % 1'000'000'000);
}

std::optional<MessageRole> messageRoleFromRaw(std::string_view raw)
{
    if (raw == "user")
        return MessageRole::user;
    if (raw == "assistant")
        return MessageRole::assistant;
    return std::nullopt;
}

std::string SharedText::str() const
{
    if (!m_jsonEscaped)
        return std::string(m_stored);
    std::string text(m_stored.size(), '\0');
    std::size_t written = 0;
    text::unescapeJsonString(m_stored, text.data(), written); // canonical: cannot fail
    text.resize(written);
    return text;
}

// Both forms are unique to their text, so texts kept alike compare as kept.
bool SharedText::operator==(const SharedText &other) const
{
    if (m_jsonEscaped == other.m_jsonEscaped)
        return m_stored == other.m_stored;
    return m_jsonEscaped ? m_stored == text::jsonEscaped(other.m_stored) : text::jsonEscaped(m_stored) == other.m_stored;
}

bool SharedText::operator==(std::string_view other) const
{
    return m_jsonEscaped ? m_stored == text::jsonEscaped(other) : m_stored == other;
}

std::string_view rawValue(MessageRole role)
{
    return role == MessageRole::user ? "user" : "assistant";
}

namespace {

// A block's plain text as the pieces it is made of, handed to `put` in order; the summary
// writes them in place instead of building each block's text.
template <typename Put>
void forEachPlainTextPiece(const ContentBlock &block, Put put)
{
    if (const auto *text = std::get_if<TextBlock>(&block)) {
        put(text->text);
    } else if (const auto *code = std::get_if<CodeBlock>(&block)) {
        put(code->text);
    } else if (const auto *tool = std::get_if<ToolUseBlock>(&block)) {
        put("[tool: ");
        put(tool->name);
        put("] ");
        put(tool->input);
    } else if (const auto *result = std::get_if<ToolResultBlock>(&block)) {
        put(result->text);
    } else if (const auto *thinking = std::get_if<ThinkingBlock>(&block)) {
        put("[thinking] ");
        put(thinking->text);
    } else if (const auto *image = std::get_if<ImageBlock>(&block)) {
        put("[image: ");
        put(image->mediaType);
        put("]");
    }
}

} // namespace

std::string plainText(const ContentBlock &block)
{
    std::string text;
    forEachPlainTextPiece(block, [&text](std::string_view piece) { text += piece; });
    return text;
}

std::optional<std::string_view> Message::firstTextBlock() const
{
    for (const auto &block : blocks)
        if (const auto *text = std::get_if<TextBlock>(&block); text && !text->text.empty())
            return std::string_view(text->text);
    return std::nullopt;
}

std::string_view rawValue(ConversationSource source)
{
    switch (source) {
    case ConversationSource::claudeCode: return "claudeCode";
    case ConversationSource::cursor: return "cursor";
    case ConversationSource::openclaw: return "openclaw";
    case ConversationSource::vscodeCopilot: return "vscodeCopilot";
    case ConversationSource::doubao: return "doubao";
    case ConversationSource::codex: return "codex";
    case ConversationSource::geminiCli: return "geminiCli";
    }
    return {};
}

std::string_view displayName(ConversationSource source)
{
    switch (source) {
    case ConversationSource::claudeCode: return "Claude Code";
    case ConversationSource::cursor: return "Cursor";
    case ConversationSource::openclaw: return "OpenClaw";
    case ConversationSource::vscodeCopilot: return "VS Code Copilot";
    case ConversationSource::doubao: return "豆包";
    case ConversationSource::codex: return "Codex";
    case ConversationSource::geminiCli: return "Gemini CLI";
    }
    return {};
}

std::optional<ConversationSource> conversationSourceFromRaw(std::string_view raw)
{
    for (auto source : allConversationSources)
        if (rawValue(source) == raw)
            return source;
    return std::nullopt;
}

namespace {

// The preview of a conversation whose first user message has `text` as its first
// non-empty text (absent when it has none).
std::string previewOf(std::optional<std::string_view> text)
{
    if (!text)
        return "(no text)";
    if (text::graphemeCount(*text, 40) <= 40)
        return std::string(*text);
    return std::string(text->substr(0, text::graphemePrefixLength(*text, 40))) + "…";
}

std::optional<std::string_view> firstUserText(const Conversation &conversation)
{
    for (const auto &message : conversation.messages)
        if (message.role == MessageRole::user)
            return message.firstTextBlock();
    return std::nullopt;
}

constexpr std::size_t largeText = 1u << 20;

// The summary of a conversation whose block texts are given as they are, or escaped.
ConversationLite summaryOf(const Conversation &conversation, std::string fileURL, bool escaped)
{
    const std::string_view lineFeed = escaped ? "\\n" : "\n";
    // Every block but images, joined by line feeds; the prefixes read the same escaped.
    const auto forEachPiece = [&](auto put) {
        bool first = true;
        for (const auto &message : conversation.messages)
            for (const auto &block : message.blocks) {
                if (std::holds_alternative<ImageBlock>(block))
                    continue;
                if (!first)
                    put(lineFeed);
                first = false;
                forEachPlainTextPiece(block, put);
            }
    };
    // Sized once: the text can be many megabytes.
    std::size_t length = 0;
    forEachPiece([&length](std::string_view piece) { length += piece.size(); });
    // A large text gets memory of its own, in huge pages where the kernel has them: a
    // summary load makes hundreds of megabytes of these, and 4 KiB pages cost a fault each.
    std::shared_ptr<io::TextArena> arena = length >= largeText ? io::TextArena::create(length) : nullptr;
    char *out = arena ? arena->allocate(length) : nullptr;
    std::shared_ptr<const void> owner = arena;
    if (!out) {
        auto small = std::make_shared<std::string>(length, '\0');
        out = small->data();
        owner = std::move(small);
    }
    const std::string_view view(out, length);
    forEachPiece([&out](std::string_view piece) {
        std::memcpy(out, piece.data(), piece.size());
        out += piece.size();
    });
    std::string preview;
    if (const auto text = firstUserText(conversation); text && escaped)
        preview = previewOf(SharedText::fromJsonEscaped(nullptr, *text).str());
    else
        preview = previewOf(text);
    return ConversationLite{
        .id = conversation.id,
        .source = conversation.source,
        .startAt = conversation.startAt,
        .endAt = conversation.endAt,
        .cwd = conversation.cwd,
        .gitBranch = conversation.gitBranch,
        .preview = std::move(preview),
        .messageCount = static_cast<std::int64_t>(conversation.messages.size()),
        .fileURL = std::move(fileURL),
        .searchableText = escaped ? SharedText::fromJsonEscaped(std::move(owner), view) : SharedText(std::move(owner), view),
        .sidechain = conversation.sidechain,
    };
}

} // namespace

std::string Conversation::preview() const { return previewOf(firstUserText(*this)); }

ConversationLite ConversationLite::from(const Conversation &conversation, std::string fileURL)
{
    return summaryOf(conversation, std::move(fileURL), false);
}

ConversationLite ConversationLite::fromJsonEscaped(const Conversation &escaped, std::string fileURL)
{
    return summaryOf(escaped, std::move(fileURL), true);
}

namespace {

bool keptInURL(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == '/';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string fileURLFromPath(std::string_view path)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    url.reserve(url.size() + path.size());
    for (unsigned char c : path) {
        if (keptInURL(c)) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

std::optional<std::string> pathFromFileURL(std::string_view url)
{
    constexpr std::string_view scheme = "file://";
    if (!url.starts_with(scheme))
        return std::nullopt;
    url.remove_prefix(scheme.size());
    if (url.starts_with("localhost/"))
        url.remove_prefix(9);
    if (!url.starts_with('/'))
        return std::nullopt;
    std::string path;
    path.reserve(url.size());
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size()) {
            const int high = hexValue(url[i + 1]), low = hexValue(url[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            path += static_cast<char>(high * 16 + low);
            i += 2;
        } else if (url[i] == '%') {
            return std::nullopt;
        } else {
            path += url[i];
        }
    }
    return path;
}

} // namespace quorral::conversation
