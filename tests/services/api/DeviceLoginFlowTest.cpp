#include "ServiceFixture.h"

#include "api/DeviceLoginFlow.h"

#include <QSignalSpy>
#include <QTest>

#include <httplib.h>

#include <gmock/gmock.h>

using namespace quorral;
using namespace quorral::api;
using quorral::test::ServiceFixture;
using testing::Contains;
using testing::HasSubstr;

namespace {

class FakeView final : public DeviceLoginView {
public:
    bool polling = false;
    QString errorText = QStringLiteral("stale");
    std::optional<QUrl> url;
    std::vector<QUrl> opened;
    std::optional<std::string> grantedKey;
    std::function<void(const QUrl &)> onOpen;

    void setPolling(bool p) override { polling = p; }
    void setErrorText(const QString &t) override { errorText = t; }
    void setDeviceLoginURL(const std::optional<QUrl> &u) override { url = u; }
    void openInBrowser(const QUrl &u) override
    {
        opened.push_back(u);
        if (onOpen)
            onOpen(u);
    }
    void loginSucceeded(const std::string &key) override { grantedKey = key; }
};

using Outcome = DeviceLoginFlow::Outcome;

} // namespace

class DeviceLoginFlowTest : public ServiceFixture {
protected:
    static constexpr std::chrono::milliseconds interval{5};
    FakeView view;
    std::vector<std::string> logged;

    std::unique_ptr<DeviceLoginFlow> flow(APIClient &client, LoginFrontEnd frontEnd)
    {
        auto f = std::make_unique<DeviceLoginFlow>(client, view, frontEnd, interval);
        f->log = [this](const std::string &line) { logged.push_back(line); };
        return f;
    }

    Outcome runToEnd(DeviceLoginFlow &f)
    {
        QSignalSpy done(&f, &DeviceLoginFlow::finished);
        f.start();
        EXPECT_TRUE(done.wait(10000));
        return done.isEmpty() ? Outcome::cancelled : done.first().first().value<Outcome>();
    }

    // A client whose login endpoints answer from a script the test sets.
    std::unique_ptr<APIClient> scripted(const nlohmann::json &script)
    {
        httplib::Client http("127.0.0.1", server.port());
        http.Post("/api/test/scripted/setup", script.dump(), "application/json");
        return makeClient(QUrl(QString::fromStdString(server.origin() + "/api/test/scripted")));
    }
    nlohmann::json counts()
    {
        httplib::Client http("127.0.0.1", server.port());
        return nlohmann::json::parse(http.Get("/api/test/scripted/count")->body);
    }
};

TEST_F(DeviceLoginFlowTest, TrayLoginApprovedInTheBrowserStoresTheKey)
{
    auto client = makeClient();
    view.onOpen = [this](const QUrl &url) { EXPECT_EQ(approve(url.toString().toStdString()), 200); };
    auto f = flow(*client, LoginFrontEnd::trayPanel);
    EXPECT_EQ(runToEnd(*f), Outcome::success);
    ASSERT_TRUE(view.grantedKey);
    EXPECT_TRUE(view.grantedKey->starts_with("qo_sk_"));
    EXPECT_EQ(keychain.load(), view.grantedKey) << "the tray's flow stores the key";
    EXPECT_FALSE(view.polling);
    EXPECT_EQ(view.errorText, "");
    EXPECT_THAT(view.opened.front().path(), "/device");
    EXPECT_TRUE(logged.empty()) << "the tray logs nothing";
}

TEST_F(DeviceLoginFlowTest, RegisterPageLogsAndHandsTheKeyOn)
{
    auto client = scripted({{"polls",
                             {{{"status", "pending"}}, {{"status", "granted"}}, {{"status", "what"}}, {{"status", "pending"}},
                              {{"status", "pending"}}, {{"status", "pending"}}, {{"status", "pending"}}, {{"status", "pending"}},
                              {{"status", "pending"}}, {{"status", "pending"}}, {{"status", "pending"}}, {{"status", "pending"}},
                              {{"status", "granted"}, {"api_key", "qo_sk_0123456789abcdef"}}}}});
    auto f = flow(*client, LoginFrontEnd::registerPage);
    EXPECT_EQ(runToEnd(*f), Outcome::success);
    EXPECT_EQ(view.grantedKey, "qo_sk_0123456789abcdef");
    EXPECT_FALSE(keychain.load()) << "the wizard stores the key, not the flow";
    EXPECT_EQ(counts()["polls"], 13) << "granted without a key and unknown statuses keep polling";
    std::vector<std::string> polls;
    for (const auto &line : logged)
        if (line.starts_with("[Quorral] Poll #"))
            polls.push_back(line);
    EXPECT_THAT(polls, testing::ElementsAre("[Quorral] Poll #0: status=pending", "[Quorral] Poll #1: status=granted",
                                            "[Quorral] Poll #2: status=what", "[Quorral] Poll #10: status=pending"));
    EXPECT_THAT(logged, Contains("[Quorral] Starting device login..."));
    EXPECT_THAT(logged, Contains("[Quorral] Device code: scripted-code, URL: http://127.0.0.1/device?user_code=TEST"));
    EXPECT_THAT(logged, Contains("[Quorral] Login granted! Key prefix: qo_sk_012345..."));
}

TEST_F(DeviceLoginFlowTest, ExpiredAndExhaustedBudgetsTimeOut)
{
    for (int expiresIn : {1, 0, -5}) {
        auto client = scripted({{"expires_in", expiresIn}});
        auto f = flow(*client, LoginFrontEnd::trayPanel);
        EXPECT_EQ(runToEnd(*f), Outcome::timeout) << expiresIn;
        EXPECT_EQ(counts()["polls"], 0) << "no poll without a budget";
        EXPECT_EQ(view.errorText, DeviceLoginFlow::timeoutText);
    }
    auto client = scripted({{"expires_in", 8}});
    auto f = flow(*client, LoginFrontEnd::trayPanel);
    EXPECT_EQ(runToEnd(*f), Outcome::timeout);
    EXPECT_EQ(counts()["polls"], 4) << "expires_in / 2 polls";

    client = scripted({{"polls", {{{"status", "pending"}}, {{"status", "expired"}}}}});
    f = flow(*client, LoginFrontEnd::registerPage);
    EXPECT_EQ(runToEnd(*f), Outcome::timeout);
    EXPECT_EQ(counts()["polls"], 2);
    EXPECT_THAT(logged, Contains("[Quorral] Device session expired"));
    EXPECT_EQ(view.errorText, "登录超时，请重试");
    EXPECT_TRUE(f->deviceLoginURL()) << "the page stays reachable after a timeout";
}

TEST_F(DeviceLoginFlowTest, AFailingFifthPollEndsTheFlowWithoutRetry)
{
    auto client = scripted({{"polls", {{{"status", "pending"}}, {{"status", "pending"}}, {{"status", "pending"}},
                                       {{"status", "pending"}}, {{"fail", 500}}, {{"status", "granted"}, {"api_key", "qo_sk_never_seen"}}}}});
    auto f = flow(*client, LoginFrontEnd::trayPanel);
    EXPECT_EQ(runToEnd(*f), Outcome::error);
    EXPECT_EQ(view.errorText, "登录失败，请重试");
    EXPECT_EQ(counts()["polls"], 5);
    EXPECT_FALSE(keychain.load());

    client = scripted({{"polls", {{{"fail", 503}}}}});
    f = flow(*client, LoginFrontEnd::registerPage);
    EXPECT_EQ(runToEnd(*f), Outcome::error);
    EXPECT_THAT(view.errorText.toStdString(), HasSubstr("登录失败：API error 503"));
    EXPECT_THAT(logged.back(), HasSubstr("[Quorral] Device login error: API error 503"));

    // The service is gone before the login even starts.
    auto offline = makeClient();
    server.stop();
    f = flow(*offline, LoginFrontEnd::trayPanel);
    EXPECT_EQ(runToEnd(*f), Outcome::error);
    EXPECT_EQ(view.errorText, "登录失败，请重试");
}

TEST_F(DeviceLoginFlowTest, CancelStopsPollingAndASecondStartDoesNothing)
{
    auto client = scripted({{"login_url", "not a url at all"}});
    auto f = std::make_unique<DeviceLoginFlow>(*client, view, LoginFrontEnd::trayPanel, std::chrono::milliseconds(200));
    QSignalSpy done(f.get(), &DeviceLoginFlow::finished);
    f->start();
    f->start();
    EXPECT_TRUE(f->isPolling());
    QTest::qWait(300);
    EXPECT_TRUE(view.opened.empty()) << "an unparsable login page is not opened";
    f->cancel();
    EXPECT_FALSE(view.polling);
    EXPECT_EQ(view.errorText, "");
    EXPECT_FALSE(view.url);
    ASSERT_TRUE(done.wait(2000));
    EXPECT_EQ(done.first().first().value<Outcome>(), Outcome::cancelled);
    const auto seen = counts();
    EXPECT_EQ(seen["logins"], 1) << "the second press started nothing";
    QTest::qWait(500);
    EXPECT_EQ(counts()["polls"], seen["polls"]) << "no poll after the cancel";
}
