#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The conversations read from the AI tools' logs: plain values, copied freely between threads.
namespace quorral::conversation {

inline constexpr std::string_view coreVersion = "0.1.0";

// A point in time as seconds since 2001-01-01 00:00:00 UTC, the form the summary cache
// stores; equality is exact, which cache reuse depends on.
struct Instant {
    static constexpr double unixEpochOffset = 978307200.0; // 1970 -> 2001

    double secondsSince2001 = 0;

    static Instant fromUnixSeconds(double seconds) { return {seconds - unixEpochOffset}; }
    static Instant fromUnixParts(std::int64_t seconds, std::int64_t nanoseconds)
    {
        return {static_cast<double>(seconds - static_cast<std::int64_t>(unixEpochOffset)) +
                static_cast<double>(nanoseconds) / 1e9};
    }
    static Instant now();
    double unixSeconds() const { return secondsSince2001 + unixEpochOffset; }

    auto operator<=>(const Instant &) const = default;
};

enum class MessageRole { user, assistant };
std::optional<MessageRole> messageRoleFromRaw(std::string_view raw);
std::string_view rawValue(MessageRole role);

struct Base64Image {
    std::string data;
    bool operator==(const Base64Image &) const = default;
};
struct UrlImage {
    std::string url;
    bool operator==(const UrlImage &) const = default;
};
struct UnknownImage {
    bool operator==(const UnknownImage &) const = default;
};
using ImageSource = std::variant<Base64Image, UrlImage, UnknownImage>;

struct TextBlock {
    std::string text;
    bool operator==(const TextBlock &) const = default;
};
struct CodeBlock {
    std::string language;
    std::string text;
    bool operator==(const CodeBlock &) const = default;
};
struct ToolUseBlock {
    std::string name;
    std::string input; // the input object as compact JSON
    bool operator==(const ToolUseBlock &) const = default;
};
struct ToolResultBlock {
    std::string text;
    bool operator==(const ToolResultBlock &) const = default;
};
struct ThinkingBlock {
    std::string text;
    bool operator==(const ThinkingBlock &) const = default;
};
struct ImageBlock {
    std::string mediaType;
    ImageSource source;
    bool operator==(const ImageBlock &) const = default;
};
using ContentBlock = std::variant<TextBlock, CodeBlock, ToolUseBlock, ToolResultBlock, ThinkingBlock, ImageBlock>;

// The block as plain text, for copying, display and search.
std::string plainText(const ContentBlock &block);

struct Message {
    std::string id;
    MessageRole role = MessageRole::user;
    Instant timestamp;
    std::vector<ContentBlock> blocks;

    // The first text block with non-empty text.
    std::optional<std::string_view> firstTextBlock() const;
    bool operator==(const Message &) const = default;
};

enum class ConversationSource { claudeCode, cursor, openclaw, vscodeCopilot, doubao, codex, geminiCli };
inline constexpr ConversationSource allConversationSources[] = {
    ConversationSource::claudeCode, ConversationSource::cursor,    ConversationSource::openclaw,
    ConversationSource::vscodeCopilot, ConversationSource::doubao, ConversationSource::codex,
    ConversationSource::geminiCli};
std::string_view rawValue(ConversationSource source);
std::string_view displayName(ConversationSource source);
std::optional<ConversationSource> conversationSourceFromRaw(std::string_view raw);

struct Conversation {
    std::string id;
    ConversationSource source = ConversationSource::claudeCode;
    Instant startAt;
    Instant endAt;
    std::string cwd;
    std::optional<std::string> gitBranch;
    std::vector<Message> messages;
    // A subagent's conversation, which shares its session's id.
    bool sidechain = false;

    std::size_t messageCount() const { return messages.size(); }
    double duration() const { return endAt.secondsSince2001 - startAt.secondsSince2001; }
    // The first user message's first non-empty text, cut to 40 characters plus "…";
    // "(no text)" when there is none.
    std::string preview() const;
    bool operator==(const Conversation &) const = default;
};

// An immutable text shared by its copies: summaries are copied between the cache, the
// loaders and the store, and their searchable text is the bulk of them. The text may be a
// slice of a larger block, and may be kept in its canonical JSON-escaped form (text
// module): the summary cache's texts stay where the mapped cache file has them, so a warm
// load neither decodes nor copies them, and a save writes them out as they are.
class SharedText {
public:
    SharedText() = default;
    SharedText(std::string text)
    {
        auto owned = std::make_shared<const std::string>(std::move(text));
        m_stored = *owned;
        m_owner = std::move(owned);
    }
    SharedText(const char *text) : SharedText(std::string(text)) {}
    // A view into memory that `owner` keeps alive.
    SharedText(std::shared_ptr<const void> owner, std::string_view text) : m_owner(std::move(owner)), m_stored(text) {}
    // `escaped` is the canonical escaped form of the text, in memory `owner` keeps alive.
    static SharedText fromJsonEscaped(std::shared_ptr<const void> owner, std::string_view escaped)
    {
        SharedText text(std::move(owner), escaped);
        text.m_jsonEscaped = true;
        return text;
    }

    bool isJsonEscaped() const { return m_jsonEscaped; }
    // The bytes as kept: the text itself, or its escaped form.
    std::string_view stored() const { return m_stored; }
    std::string str() const; // the text itself
    bool empty() const { return m_stored.empty(); }

    bool operator==(const SharedText &other) const;
    bool operator==(std::string_view other) const;
    bool operator==(const char *other) const { return *this == std::string_view(other); }

private:
    std::shared_ptr<const void> m_owner;
    std::string_view m_stored;
    bool m_jsonEscaped = false;
};

// The summary kept in lists, the store and the cache; it carries no messages.
struct ConversationLite {
    std::string id;
    ConversationSource source = ConversationSource::claudeCode;
    Instant startAt;
    Instant endAt;
    std::string cwd;
    std::optional<std::string> gitBranch;
    std::string preview;
    std::int64_t messageCount = 0;
    std::string fileURL; // "file:///…", the path percent-encoded
    SharedText searchableText;
    bool sidechain = false;

    double duration() const { return endAt.secondsSince2001 - startAt.secondsSince2001; }
    static ConversationLite from(const Conversation &conversation, std::string fileURL);
    // The same summary of a conversation read with its block texts JSON-escaped (the
    // loaders' summary form); its searchable text stays escaped.
    static ConversationLite fromJsonEscaped(const Conversation &escaped, std::string fileURL);
    bool operator==(const ConversationLite &) const = default;
};

// "file:///path" with everything but unreserved characters and "/" percent-encoded, and back.
std::string fileURLFromPath(std::string_view path);
std::optional<std::string> pathFromFileURL(std::string_view url);

} // namespace quorral::conversation
