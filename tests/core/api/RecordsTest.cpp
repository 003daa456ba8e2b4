#include "api/Records.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quorral::api;
using testing::HasSubstr;

TEST(Records, RequiredAndOptionalFields)
{
    const auto stats = decodeBody<StatsResponse>(
        R"({"total_memories":3,"total_conversations":2,"tokens_saved":10,"saved_usd":1,"optimize_calls":0,
            "ingest_calls":5,"today":{"recalls":1,"ingests":2,"new_memories":3},"unknown":[1]})");
    EXPECT_EQ(stats.totalMemories, 3);
    EXPECT_DOUBLE_EQ(stats.savedUSD, 1.0); // a number may be written without a fraction
    ASSERT_TRUE(stats.today);
    EXPECT_EQ(stats.today->newMemories, 3);

    const auto settings = decodeBody<SettingsResponse>(R"({"incognito_global":null,"incognito_sources":["cursor"]})");
    EXPECT_FALSE(settings.incognitoGlobal);
    EXPECT_EQ(settings.incognitoSources, std::vector<std::string>{"cursor"});

    const auto verify = decodeBody<DeviceVerifyResponse>(R"({"status":"granted","api_key":"qo_sk_x"})");
    EXPECT_EQ(verify.apiKey, "qo_sk_x");
}

TEST(Records, DecodeFailuresNameTheField)
{
    struct Case {
        const char *body;
        const char *message;
    } cases[] = {
        {"", "not valid JSON"},
        {"[1]", "not a JSON object"},
        {R"({"files_queued":1})", "\"accepted\" is missing"},
        {R"({"accepted":null})", "\"accepted\" is missing"},
        {R"({"accepted":"yes"})", "\"accepted\" is not a boolean"},
        {R"({"accepted":true,"files_queued":1.5})", "\"files_queued\" is not an integer"},
    };
    for (const auto &c : cases) {
        try {
            decodeBody<ImportResponse>(c.body);
            ADD_FAILURE() << "decoded " << c.body;
        } catch (const DecodeError &error) {
            EXPECT_THAT(error.what(), HasSubstr(c.message)) << c.body;
        }
    }
    EXPECT_THROW(decodeBody<DeviceLoginResponse>(R"({"device_code":"d","login_url":"u","expires_in":600.0})"), DecodeError);
    EXPECT_THROW(decodeBody<SettingsResponse>(R"({"incognito_sources":["a",1]})"), DecodeError);
    EXPECT_THROW(decodeBody<StatsResponse>(R"({"total_memories":3})"), DecodeError);
}
