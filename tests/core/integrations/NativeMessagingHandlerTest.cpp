#include "integrations/NativeMessagingHandler.h"

#include "Frames.h"
#include "TempHome.h"
#include "credentials/KeychainHelper.h"
#include "io/ReadFile.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <regex>

using namespace quorral::integrations::NativeMessagingHandler;
using quorral::test::frameOf;
using quorral::test::TempHome;
using nlohmann::json;

namespace {

// Reads from a string, `chunk` bytes at a time at most.
ReadSome readerOf(const std::string &input, std::size_t &position, std::size_t chunk = 3)
{
    return [&input, &position, chunk](char *destination, std::size_t length) {
        const std::size_t n = std::min({length, chunk, input.size() - position});
        std::memcpy(destination, input.data() + position, n);
        position += n;
        return n;
    };
}

void storeKey(const TempHome &home, const std::string &key)
{
    quorral::credentials::NoLegacyKeychain legacy;
    quorral::credentials::KeychainHelper(home.path(), legacy).save(key);
}

} // namespace

TEST(NativeMessagingHandler, FrameLengthsAtTheLimits)
{
    struct Case {
        const char *name;
        std::string input;
        std::optional<std::size_t> bodyLength;
    };
    const Case cases[] = {
        {"end of input", "", std::nullopt},
        {"short header", std::string("\x05\x00", 2), std::nullopt},
        {"zero length", frameOf(0, "{}"), std::nullopt},
        {"short body", frameOf(10, "{}"), std::nullopt},
        {"one byte", frameOf(1, "x"), 1},
        {"largest", frameOf(0xFFFFF, std::string(0xFFFFF, ' ')), 0xFFFFF},
        {"one too large", frameOf(0x100000, std::string(0x100000, ' ')), std::nullopt},
        {"huge", frameOf(0xFFFFFFFF, "{}"), std::nullopt},
    };
    for (const auto &c : cases) {
        std::size_t position = 0;
        const auto body = readMessage(readerOf(c.input, position, 4096));
        EXPECT_EQ(body ? std::optional(body->size()) : std::nullopt, c.bodyLength) << c.name;
    }
}

TEST(NativeMessagingHandler, TwoFramesInOneBufferAreReadInOrder)
{
    const std::string input = frameOf(15, R"({"type":"ping"})") + frameOf(2, "{}");
    std::size_t position = 0;
    const auto read = readerOf(input, position);
    EXPECT_EQ(readMessage(read), R"({"type":"ping"})");
    EXPECT_EQ(readMessage(read), "{}");
    EXPECT_EQ(readMessage(read), std::nullopt);
}

TEST(NativeMessagingHandler, RepliesToRequests)
{
    TempHome home;
    struct Case {
        std::string body;
        json reply;
    };
    const Case cases[] = {
        {R"({"type":"ping","id":7,"extra":{"a":1}})", {{"type", "pong"}, {"version", "0.1.0"}, {"app", "Quorral"}}},
        {R"({"type":"PING"})", {{"type", "error"}, {"message", "Unknown message type: PING"}}},
        {R"({"type":""})", {{"type", "error"}, {"message", "Unknown message type: "}}},
        {R"({"type":7})", {{"type", "error"}, {"message", "Invalid message format"}}},
        {R"([{"type":"ping"}])", {{"type", "error"}, {"message", "Invalid message format"}}},
        {R"("ping")", {{"type", "error"}, {"message", "Invalid message format"}}},
        {R"({"kind":"ping"})", {{"type", "error"}, {"message", "Invalid message format"}}},
        {R"({"type":"ping")", {{"type", "error"}, {"message", "Invalid message format"}}},
        {"{\"type\":\"\xff\"}", {{"type", "error"}, {"message", "Invalid message format"}}},
        {std::string(5000, '[') + std::string(5000, ']'), {{"type", "error"}, {"message", "Invalid message format"}}},
        {R"({"type":"get_api_key"})", {{"type", "error"}, {"message", "No API key configured"}}},
        {R"({"type":"get_settings"})", {{"type", "settings"}, {"incognito_global", false}, {"incognito_sources", json::array()}}},
        {R"({"type":"get_all"})",
         {{"type", "all"}, {"incognito_global", false}, {"incognito_sources", json::array()}, {"version", "0.1.0"}}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(handleMessage(c.body, home.path()), c.reply) << c.body.substr(0, 60);
}

TEST(NativeMessagingHandler, KeyAndSettingsAreReadForEveryRequest)
{
    TempHome home;
    home.write(".quorral/settings-cache.json",
               R"({"incognito_global": true, "incognito_sources": ["cursor", "codex"], "updated_at": "x"})");
    storeKey(home, "qo_sk_first_key_0000");
    EXPECT_EQ(handleMessage(R"({"type":"get_api_key"})", home.path()),
              (json{{"type", "api_key"}, {"key", "qo_sk_first_key_0000"}}));
    storeKey(home, "qo_sk_second_key_111");
    const auto all = handleMessage(R"({"type":"get_all"})", home.path());
    EXPECT_EQ(all, (json{{"type", "all"},
                         {"incognito_global", true},
                         {"incognito_sources", {"cursor", "codex"}},
                         {"version", "0.1.0"},
                         {"key", "qo_sk_second_key_111"}}));
}

TEST(NativeMessagingHandler, SettingsCacheReading)
{
    struct Case {
        const char *content;
        bool global;
        std::vector<std::string> sources;
    };
    const Case cases[] = {
        {R"({"incognito_global": true, "incognito_sources": ["a", 3]})", true, {}},
        {R"({"incognito_global": "yes", "incognito_sources": ["a", "b"]})", false, {"a", "b"}},
        {R"({"incognito_global": true, "incognito_sources": "a"})", true, {}},
        {R"([true])", false, {}},
        {R"({"incognito_global": tr)", false, {}},
    };
    for (const auto &c : cases) {
        TempHome home;
        home.write(".quorral/settings-cache.json", c.content);
        const auto settings = readSettingsCache(home.path());
        EXPECT_EQ(settings.incognitoGlobal, c.global) << c.content;
        EXPECT_EQ(settings.incognitoSources, c.sources) << c.content;
    }
    TempHome empty;
    EXPECT_FALSE(readSettingsCache(empty.path()).incognitoGlobal);
}

TEST(NativeMessagingHandler, KnownRequestsMarkTheConnection)
{
    TempHome home;
    handleMessage(R"({"type":"hello"})", home.path());
    handleMessage("not json", home.path());
    EXPECT_FALSE(isExtensionConnected(home.path()));
    handleMessage(R"({"type":"get_settings"})", home.path());
    EXPECT_TRUE(isExtensionConnected(home.path()));
    const auto marker = quorral::io::readWholeFile(home / ".quorral/extension-connected").value();
    EXPECT_TRUE(std::regex_match(marker, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)"))) << marker;
}

TEST(NativeMessagingHandler, EncodedFrameCarriesTheTextLength)
{
    const auto encoded = encodeFrame(json{{"type", "pong"}}).value();
    std::uint32_t length = 0;
    std::memcpy(&length, encoded.data(), 4);
    EXPECT_EQ(encoded.substr(4), R"({"type":"pong"})");
    EXPECT_EQ(length, encoded.size() - 4);
    EXPECT_EQ(encodeFrame(json("\xff invalid")), std::nullopt);
}
