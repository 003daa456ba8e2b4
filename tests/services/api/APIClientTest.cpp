#include "ServiceFixture.h"

#include "async/WaitFor.h"

#include <QSignalSpy>

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sys/stat.h>

using namespace quorral;
using namespace quorral::api;
using quorral::test::ServiceFixture;
using testing::HasSubstr;


class APIClientTest : public ServiceFixture {
protected:
    nlohmann::json echoed()
    {
        auto client = makeClient();
        const auto text = quorral::async::waitFor(client->send("GET", QUrl(QString::fromStdString(server.origin() + "/api/test/last")), std::nullopt, false));
        return nlohmann::json::parse(text);
    }
};

TEST_F(APIClientTest, UrlsKeepTheBasePathAndTheQueryOfUnauthenticatedPaths)
{
    auto client = makeClient();
    client->setApiKey("qo_sk_test_key_123");
    auto reply = quorral::async::waitFor(client->request<IngestResponse>("GET", "/test/echo/v1/stats", std::nullopt));
    EXPECT_TRUE(reply.accepted);
    auto echo = echoed();
    EXPECT_EQ(echo["path"], "/api/test/echo/v1/stats");
    EXPECT_EQ(echo["headers"]["Content-Type"], "application/json");
    EXPECT_EQ(echo["headers"]["X-Quorral-Key"], "qo_sk_test_key_123");
    EXPECT_EQ(echo["headers"]["X-Quorral-Source"], "desktop-app");

    quorral::async::waitFor(client->requestNoAuth<IngestResponse>("GET", "/test/echo/v1/auth/device-verify?code=ab-12", std::nullopt));
    echo = echoed();
    EXPECT_EQ(echo["path"], "/api/test/echo/v1/auth/device-verify");
    EXPECT_EQ(echo["params"]["code"], "ab-12");
    EXPECT_FALSE(echo["headers"].contains("X-Quorral-Key")) << "never sent without authentication";

    // An authenticated path takes "?" as part of the path.
    EXPECT_EQ(client->authenticatedURL("/v1/x?y=1").path(), "/api/v1/x?y=1");
    EXPECT_FALSE(client->authenticatedURL("/v1/x?y=1").hasQuery());
    auto slashed = makeClient(QUrl(QString::fromStdString(server.origin() + "/api/")));
    EXPECT_EQ(slashed->authenticatedURL("/v1/stats").path(), "/api/v1/stats");
}

TEST_F(APIClientTest, WithoutAKeyTheRequestGoesOutWithoutTheHeader)
{
    auto client = makeClient();
    ASSERT_FALSE(client->apiKey());
    quorral::async::waitFor(client->request<IngestResponse>("POST", "/test/echo/v1/ingest", nlohmann::json{{"a", 1}}));
    const auto echo = echoed();
    EXPECT_FALSE(echo["headers"].contains("X-Quorral-Key"));
    EXPECT_EQ(echo["body"], "{\"a\":1}");
    try {
        quorral::async::waitFor(client->getStats());
        FAIL() << "the service must refuse";
    } catch (const APIError &error) {
        EXPECT_EQ(error.kind(), APIError::Kind::httpError);
        EXPECT_EQ(error.statusCode(), 401);
        EXPECT_THAT(error.body(), HasSubstr("\"error\""));
    }
}

TEST_F(APIClientTest, EmptySuccessBodiesFailToDecodeAndErrorsCarryTheirText)
{
    auto client = makeClient();
    EXPECT_THROW(quorral::async::waitFor(client->request<IngestResponse>("GET", "/test/empty", std::nullopt)), DecodeError);
    EXPECT_THROW(quorral::async::waitFor(client->request<IngestResponse>("GET", "/test/no-content", std::nullopt)), DecodeError);
    try {
        quorral::async::waitFor(client->request<IngestResponse>("GET", "/test/plain-404", std::nullopt));
        FAIL() << "404 must throw";
    } catch (const APIError &error) {
        EXPECT_STREQ(error.what(), "API error 404: no such thing here");
    }
    EXPECT_STREQ(APIError::invalidResponse().what(), "Invalid response from Quorral API");

    server.stop();
    EXPECT_THROW(quorral::async::waitFor(client->getStats()), TransportError);
}

TEST_F(APIClientTest, UploadsInBatchesOfFiftyAndCountsOnlyAcceptedBatches)
{
    auto client = makeClient();
    client->setApiKey(newAccountKey());
    auto files = [](int count, int from = 0) {
        std::vector<ScannedFilePayload> list;
        for (int i = from; i < from + count; ++i)
            list.push_back({"/logs/" + std::to_string(i) + ".jsonl", "User: message " + std::to_string(i) + "\n\n", "app"});
        return list;
    };
    auto importCalls = [&] { return quorral::async::waitFor(client->getStats()).ingestCalls; };

    EXPECT_EQ(quorral::async::waitFor(client->uploadScannedFiles({}, "claude-code")), 0u);
    EXPECT_EQ(importCalls(), 0);
    EXPECT_EQ(quorral::async::waitFor(client->uploadScannedFiles(files(50), "claude-code")), 50u);
    EXPECT_EQ(importCalls(), 1);
    EXPECT_EQ(quorral::async::waitFor(client->uploadScannedFiles(files(51, 100), "claude-code")), 51u);
    EXPECT_EQ(importCalls(), 3);
    EXPECT_EQ(quorral::async::waitFor(client->getStats()).totalMemories, 101);

    // One file is too large for the service (413): its batch is split down to that file,
    // which alone is refused; the other 119 are stored.
    auto mixed = files(120, 1000);
    mixed[75].content = std::string(33u << 20, 'x');
    const auto result = quorral::async::waitFor(client->uploadScannedFilesReporting(mixed, "cursor"));
    ASSERT_EQ(result.statuses.size(), 120u);
    EXPECT_EQ(result.accepted(), 119u);
    EXPECT_EQ(result.statuses[75], UploadStatus::refused);
    EXPECT_EQ(result.count(UploadStatus::failed), 0u);
    EXPECT_EQ(quorral::async::waitFor(client->getStats()).totalMemories, 220);

    // The same paths again are the same memories, with the newest content.
    EXPECT_EQ(quorral::async::waitFor(client->uploadScannedFiles(files(50), "claude-code")), 50u);
    EXPECT_EQ(quorral::async::waitFor(client->getStats()).totalMemories, 220);

    // Once the service is gone the files left are failed, not refused, and not tried one by one.
    server.stop();
    const auto gone = quorral::async::waitFor(client->uploadScannedFilesReporting(files(120, 5000), "cursor"));
    EXPECT_EQ(gone.count(UploadStatus::failed), 120u);
}

TEST_F(APIClientTest, BodiesHoldExactlyTheDocumentedKeys)
{
    auto client = makeClient(QUrl(QString::fromStdString(server.origin() + "/api/test/echo")));
    client->setApiKey("qo_sk_whatever_key");
    ASSERT_EQ(quorral::async::waitFor(client->uploadScannedFiles({{"/a.jsonl", "text a", std::nullopt}, {"/b.jsonl", "text b", "tag"}}, "cursor")), 2u);
    auto body = nlohmann::json::parse(echoed()["body"].get<std::string>());
    EXPECT_EQ(body, (nlohmann::json{{"source", "cursor"},
                                    {"files", {{{"path", "/a.jsonl"}, {"content", "text a"}},
                                               {{"path", "/b.jsonl"}, {"content", "text b"}, {"context_tag", "tag"}}}}}));

    quorral::async::waitFor(client->saveMemory("remember this", std::string("work")));
    body = nlohmann::json::parse(echoed()["body"].get<std::string>());
    EXPECT_EQ(body, (nlohmann::json{{"messages", {{{"role", "user"}, {"content", "remember this"}}}},
                                    {"source", "manual"},
                                    {"context_tag", "work"}}));
    quorral::async::waitFor(client->saveMemory("no tag"));
    body = nlohmann::json::parse(echoed()["body"].get<std::string>());
    EXPECT_FALSE(body.contains("context_tag"));
}

TEST_F(APIClientTest, EndpointsAgainstTheService)
{
    auto client = makeClient();
    client->setApiKey(newAccountKey());
    quorral::async::waitFor(client->saveMemory("I prefer tabs over spaces"));
    const auto profile = quorral::async::waitFor(client->getProfile());
    EXPECT_EQ(profile.memoryCount, 1);
    EXPECT_EQ(profile.level, 1);
    EXPECT_EQ(profile.plan, "free");
    const auto stats = quorral::async::waitFor(client->getStats());
    ASSERT_TRUE(stats.today);
    EXPECT_EQ(stats.today->newMemories, 1);
    const auto settings = quorral::async::waitFor(client->getSettings());
    EXPECT_EQ(settings.incognitoGlobal, false);
    const QUrl magic = quorral::async::waitFor(client->getMagicLoginURL());
    EXPECT_EQ(magic.path(), "/magic");
}

TEST_F(APIClientTest, KeyIsStoredMigratedAndAnnounced)
{
    defaults.setValue(APIClient::legacyDefaultsKey, "qo_sk_from_defaults");
    auto client = makeClient();
    EXPECT_EQ(client->apiKey(), "qo_sk_from_defaults");
    EXPECT_FALSE(defaults.value(APIClient::legacyDefaultsKey));
    EXPECT_EQ(keychain.load(), "qo_sk_from_defaults");
    EXPECT_TRUE(client->hasValidKey());

    QSignalSpy announced(&notifier, &LoginNotifier::loginStateChanged);
    client->setApiKey("qo_sk_newer_key");
    EXPECT_EQ(announced.count(), 0) << "delivered through the event loop, not inline";
    ASSERT_TRUE(announced.wait(2000));
    struct stat st {};
    ASSERT_EQ(::stat(keychain.credentialsPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600);

    client->clearApiKey();
    EXPECT_FALSE(client->apiKey());
    EXPECT_FALSE(client->hasValidKey());
    EXPECT_TRUE(announced.wait(2000));

    // A key written by another process counts without a restart.
    keychain.save("qo_sk_other_process");
    EXPECT_TRUE(client->hasValidKey());
    keychain.save("qo_sk_abcd");
    EXPECT_FALSE(client->hasValidKey());
}
