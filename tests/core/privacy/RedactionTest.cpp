#include "privacy/Redaction.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <string>

using namespace quorral::privacy;

namespace {

// Secrets for the tests are put together from pieces here, so that no file of the
// repository holds one whole (nor trips a secret scanner).
std::string run(std::string_view alphabet, std::size_t length, std::size_t seed = 7)
{
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        text += alphabet[(i * 31 + seed * 17 + i / 3) % alphabet.size()];
    return text;
}
const std::string alnum = "aB3cD4eF5gH6iJ7kL8mN9pQ2rS0tU1vWxYz";
const std::string upperAlnum = "ABCDEFGHJKLMNPQRSTUVWXYZ234567";
const std::string base64 = alnum + "+/";

std::string join(std::initializer_list<std::string_view> parts)
{
    std::string text;
    for (auto part : parts)
        text += part;
    return text;
}

struct SecretCase {
    std::string name;
    std::string before;   // text around the secret
    std::string secret;   // what must disappear
    std::string after;
    SecretKind kind;
    // The text left around the replacement when it is not `before` + `after`.
    std::string expected = {};
};

std::vector<SecretCase> secretCases()
{
    const std::string pem = join({"-----BEGIN", " RSA PRIVATE ", "KEY-----\n", run(base64, 64), "\n", run(base64, 64, 3),
                                  "\n-----END", " RSA PRIVATE ", "KEY-----"});
    const std::string jwt = join({"ey", "J", run(alnum, 20), ".", "ey", "J", run(alnum, 40, 2), ".", run(alnum, 43, 5)});
    return {
        {"private key block", "here is the key:\n", pem, "\nthanks", SecretKind::privateKey},
        {"private key cut short", "key: ", join({"-----BEGIN", " OPENSSH PRIVATE ", "KEY-----\\n", run(base64, 70), "\\n", run(base64, 30)}),
         "\" and more", SecretKind::privateKey},
        {"AWS access key id", "id ", join({"AK", "IA", run(upperAlnum, 16)}), " in use", SecretKind::awsAccessKeyId},
        {"AWS secret after its name", "aws_secret_access_key = ", run(base64, 40, 4), "\n", SecretKind::awsSecretKey},
        {"AWS secret in the environment", "export AWS_SECRET_ACCESS_KEY=", run(base64, 40, 9), "\n", SecretKind::awsSecretKey},
        {"GitHub token", "use ", join({"gh", "p_", run(alnum, 36)}), " for the API", SecretKind::githubToken},
        {"GitHub fine-grained token", "token ", join({"github", "_pat_", run(alnum, 22), "_", run(alnum, 59, 2)}), ".",
         SecretKind::githubToken},
        {"GitLab token", "(", join({"gl", "pat-", run(alnum, 20)}), ")", SecretKind::gitlabToken},
        {"Slack token", "slack ", join({"xo", "xb-", "123456789012-", "1234567890123-", run(alnum, 24)}), " ok",
         SecretKind::slackToken},
        {"Stripe key", "key=", join({"sk", "_live_", run(alnum, 24)}), " done", SecretKind::stripeKey},
        {"Google API key", "maps ", join({"AI", "za", run(alnum + "-_", 35)}), " here", SecretKind::googleApiKey},
        {"OpenAI-style key", "my key is ", join({"sk", "-proj-", run(alnum, 48)}), ", please", SecretKind::openaiKey},
        {"DeepSeek key of the same style", "", join({"sk", "-", run("0123456789abcdef", 32)}), "", SecretKind::openaiKey},
        {"Anthropic-style key", "", join({"sk", "-ant-", "api03-", run(alnum, 80)}), " was pasted", SecretKind::anthropicKey},
        {"npm token", "//registry/:_authToken ", join({"np", "m_", run(alnum, 36)}), "\n", SecretKind::npmToken},
        {"PyPI token", "password ", join({"py", "pi-", "AgEIcHlwaS5vcmc", run(alnum, 60)}), "\n", SecretKind::pypiToken},
        {"own service key", "QUORRAL key ", join({"qo", "_sk_", run(alnum, 24)}), ".", SecretKind::quorralKey},
        {"JSON Web Token", "Authorization: Bearer ", jwt, "\n", SecretKind::jwt},
        {"password in a URL", "postgres://admin:", join({"pa", "ss", run(alnum, 10)}), "@db.example.com:5432/app",
         SecretKind::urlPassword},
        {"NAME=value", "DB_PASSWORD=", join({"Tr0ub4", "dor&3x"}), "\n", SecretKind::namedSecret},
        {"JSON pair", "{\"client_secret\": \"", join({"c1ient", "-S3cr", "et-value"}), "\"}", SecretKind::namedSecret},
        {"YAML pair", "api_key: '", join({"9f8e7d6c", "5b4a3210"}), "'\n", SecretKind::namedSecret},
        {"escaped JSON pair", "{\\\"apiKey\\\": \\\"", join({"abcdef12", "34567890"}), "\\\"}", SecretKind::namedSecret},
        {"camelCase name", "const authToken = \"", join({"s3cr3t", "v4lue99"}), "\";", SecretKind::namedSecret},
        {"token under a secret name keeps its own kind", "export GITHUB_TOKEN=", join({"gh", "p_", run(alnum, 36, 3)}),
         "\n", SecretKind::githubToken},
        {"passwd with :=", "passwd := \"", join({"zq8", "Xw7vu6t"}), "\"", SecretKind::namedSecret},
    };
}

} // namespace

TEST(Redaction, EachSecretIsReplacedByItsKind)
{
    for (const auto &c : secretCases()) {
        const std::string text = c.before + c.secret + c.after;
        const auto result = redactSecrets(text);
        const std::string replacement = "[redacted:" + std::string(secretKindName(c.kind)) + "]";
        EXPECT_EQ(result.text, c.before + replacement + c.after) << c.name;
        EXPECT_EQ(result.counts[c.kind], 1) << c.name;
        EXPECT_EQ(result.counts.total(), 1) << c.name;
        EXPECT_EQ(result.text.find(c.secret), std::string::npos) << c.name;
    }
}

TEST(Redaction, SecretsAreFoundInALongTranscript)
{
    std::string text;
    std::string expected;
    RedactionCounts counts;
    for (const auto &c : secretCases()) {
        text += "user: something about " + c.name + "\n" + c.before + c.secret + c.after + "\n\n";
        expected += "user: something about " + c.name + "\n" + c.before + "[redacted:"
            + std::string(secretKindName(c.kind)) + "]" + c.after + "\n\n";
        ++counts[c.kind];
    }
    const auto result = redactSecrets(text);
    EXPECT_EQ(result.text, expected);
    EXPECT_EQ(result.counts, counts);
    // Redacting again changes nothing.
    const auto again = redactSecrets(result.text);
    EXPECT_EQ(again.text, result.text);
    EXPECT_EQ(again.counts.total(), 0);
}

TEST(Redaction, NearMissesStayAsTheyAre)
{
    const std::string nearMisses[] = {
        "commit 3f2a9c1e8b7d6f5a4c3b2a1908f7e6d5c4b3a291 fixed it",
        "request 550e8400-e29b-41d4-a716-446655440000 failed",
        "the tokenizer splits words; tokenizer=bert-base-uncased",
        "max_tokens: 4096, max_tokens=8192, token_count = 123456789",
        "password: short and token=abc",
        "Password: the one we agreed on",
        "http://localhost:8080/path?x=1 and user@example.com and git@github.com:org/repo.git",
        "ssh://git@host.example/repo.git and https://example.com/a:b@c",
        "pip install scikit-learn; sk-short; the sk-learning-curve-is-steep-here",
        "AKIA is a prefix; AKIAIOSFODNN7 is too short",
        "token = get_token()\npassword = self.password\nsecret = os.environ['APP_SECRET']",
        "API_KEY=${API_KEY}\napi_key=$OPENAI_API_KEY\npassword: <your-password>\ntoken: ********",
        "token: ${{ secrets.GITHUB_TOKEN }}",
        "the header eyJhbGciOiJIUzI1NiJ9 alone is no token",
        "-----BEGIN PUBLIC KEY-----\nMIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKCAQEA\n-----END PUBLIC KEY-----",
        "-----BEGIN CERTIFICATE-----\nMIIDdzCCAl+gAwIBAgIEAgAAuTANBgkqhkiG9w0BAQUFADBa\n-----END CERTIFICATE-----",
        "token_url = https://auth.example.com/oauth/token and password_file: /etc/app/password.txt",
        join({"publishable ", "pk", "_live_", run(alnum, 24)}),
        "if token == \"abcdefghijk\" or password != \"abcdefghijk\":",
        "secrets: 12345678901234, the secretary said; keyboard=us-international-layout",
        "a - b = c; x_y = z; I think I: Jumped",
    };
    for (const auto &text : nearMisses) {
        const auto result = redactSecrets(text);
        EXPECT_EQ(result.text, text);
        EXPECT_EQ(result.counts.total(), 0) << text;
    }
}

TEST(Redaction, SecretNames)
{
    for (const char *name : {"password", "DB_PASSWORD", "passwd", "client_secret", "clientSecret", "api_key", "apiKey",
                             "x-api-key", "OPENAI_API_KEY", "apikey", "private_key", "privateKey", "GITHUB_TOKEN",
                             "access_token", "authToken", "SECRET_KEY_BASE"})
        EXPECT_TRUE(isSecretName(name)) << name;
    for (const char *name : {"tokenizer", "max_tokens", "token_url", "password_file", "token_count", "secretary",
                             "keyboard", "public_key", "key", "api", "passport", "access_key_id"})
        EXPECT_FALSE(isSecretName(name)) << name;
}

TEST(Redaction, TextWithoutSecretsIsCopiedWhole)
{
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "Line " + std::to_string(i) + ": the build of module_" + std::to_string(i) + " passed; x = y - 1.\n";
    text += "中文文本和表情 😀 — keep it.";
    const auto result = redactSecrets(text);
    EXPECT_EQ(result.text, text);
    EXPECT_EQ(result.counts.total(), 0);
    EXPECT_EQ(redactSecrets("").text, "");
}

TEST(Redaction, JsonSettingsKeepTheirStructure)
{
    const std::string openaiStyle = join({"sk", "-", run("0123456789abcdef", 32, 2)});
    const std::string github = join({"gh", "p_", run(alnum, 36, 5)});
    const std::string urlPassword = join({"hunt", "er2", run(alnum, 6)});
    const nlohmann::ordered_json settings = {
        {"api_key", openaiStyle},
        {"model", "deepseek-chat"},
        {"base_url", "https://api.example.com"},
        {"tokenizer", "deepseek-v3-tokenizer-files"},
        {"mcpServers",
         {{"github",
           {{"command", "npx"},
            {"args", {"-y", "server-github", "--db=postgres://me:" + urlPassword + "@localhost/db"}},
            {"env", {{"GITHUB_PERSONAL_ACCESS_TOKEN", github}, {"LOG_LEVEL", "debug"}}}}}}},
        {"security", {{"auth", {{"selectedType", "gemini-api-key"}, {"password", join({"letme", "in2024!"})}}}}},
    };
    const std::string text = settings.dump(2) + "\n";
    const auto result = redactJsonSecrets(text);
    const auto parsed = nlohmann::ordered_json::parse(result.text);

    auto expected = settings;
    expected["api_key"] = "[redacted:openai-key]";
    expected["mcpServers"]["github"]["args"][2] = "--db=postgres://me:[redacted:url-password]@localhost/db";
    expected["mcpServers"]["github"]["env"]["GITHUB_PERSONAL_ACCESS_TOKEN"] = "[redacted:github-token]";
    expected["security"]["auth"]["password"] = "[redacted:secret]";
    EXPECT_EQ(parsed, expected);
    EXPECT_EQ(result.counts.total(), 4);
    EXPECT_TRUE(result.text.ends_with("}\n"));
}

TEST(Redaction, JsonWithoutSecretsIsLeftByteForByte)
{
    const std::string text = "{\n    \"model\":   \"deepseek-chat\",\n  \"max_tokens\": 4096 }";
    const auto result = redactJsonSecrets(text);
    EXPECT_EQ(result.text, text);
    EXPECT_EQ(result.counts.total(), 0);
}

TEST(Redaction, BrokenJsonIsRedactedAsText)
{
    const std::string secret = join({"gh", "p_", run(alnum, 36, 8)});
    const auto result = redactJsonSecrets("{\"token\": \"" + secret + "\", oops");
    EXPECT_EQ(result.text, "{\"token\": \"[redacted:github-token]\", oops");
    EXPECT_EQ(result.counts[SecretKind::githubToken], 1);
}

TEST(Redaction, TextCutAnywhereIsHandled)
{
    // Every prefix and suffix of every case: the look-backs and look-aheads at the ends of the text.
    for (const auto &c : secretCases()) {
        const std::string text = c.before + c.secret + c.after;
        for (std::size_t cut = 0; cut <= text.size(); ++cut) {
            const auto head = redactSecrets(std::string_view(text).substr(0, cut));
            const auto tail = redactSecrets(std::string_view(text).substr(cut));
            EXPECT_LE(head.counts.total(), 1) << c.name << " cut at " << cut;
            EXPECT_LE(tail.counts.total(), 1) << c.name << " cut at " << cut;
        }
    }
}
