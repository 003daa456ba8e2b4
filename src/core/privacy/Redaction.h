#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorral::privacy {

// The kinds of value the redaction step recognises; each is replaced by "[redacted:<name>]".
enum class SecretKind : std::uint8_t {
    privateKey,
    awsAccessKeyId,
    awsSecretKey,
    githubToken,
    gitlabToken,
    slackToken,
    stripeKey,
    googleApiKey,
    openaiKey,
    anthropicKey,
    npmToken,
    pypiToken,
    quorralKey,
    jwt,
    urlPassword,
    namedSecret,
};
inline constexpr std::size_t secretKindCount = static_cast<std::size_t>(SecretKind::namedSecret) + 1;

// The name in the replacement text, e.g. "github-token".
std::string_view secretKindName(SecretKind kind);

struct RedactionCounts {
    std::array<std::int64_t, secretKindCount> byKind{};

    std::int64_t &operator[](SecretKind kind) { return byKind[static_cast<std::size_t>(kind)]; }
    std::int64_t operator[](SecretKind kind) const { return byKind[static_cast<std::size_t>(kind)]; }
    std::int64_t total() const;
    RedactionCounts &operator+=(const RedactionCounts &other);
    friend bool operator==(const RedactionCounts &, const RedactionCounts &) = default;
};

struct RedactionResult {
    std::string text;
    RedactionCounts counts;
};

// `text` with every high-confidence secret replaced by "[redacted:KIND]": private key
// blocks, keys and tokens of a fixed shape, JSON Web Tokens, passwords in URLs, and values
// of `NAME=value` / `"name": "value"` pairs whose name says secret, token, password,
// passwd, api key or private key. Look-alikes (commit hashes, UUIDs, "tokenizer", short
// values) are left as they are. Text holding none of the patterns' anchors is copied in
// one pass.
RedactionResult redactSecrets(std::string_view text);

// The same on `text` itself: left untouched (nothing copied) when it holds no secret.
RedactionCounts redactSecretsIn(std::string &text);

// A JSON document (a settings file) with its structure and key order kept: members whose
// name says secret get their string value replaced, and every other string value is
// redacted as text. Text that is no JSON document is redacted as text.
RedactionResult redactJsonSecrets(std::string_view json);
RedactionCounts redactJsonSecretsIn(std::string &json);

// Whether a key or variable name says that its value is a secret ("api_key", "GITHUB_TOKEN",
// "clientSecret"; not "tokenizer", "max_tokens" or "token_url").
bool isSecretName(std::string_view name);

} // namespace quorral::privacy
