// The device login end to end: `quorral login` in a terminal, its page in a real headless
// Chromium driven over WebDriver, the "Approve" button pressed, the key stored.
#include "LocalServer.h"
#include "Subprocess.h"
#include "TempHome.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using nlohmann::json;
using quorral::test::LocalServer;
using quorral::test::Subprocess;
using quorral::test::TempHome;
using testing::HasSubstr;

namespace {

constexpr const char *chromedriver = "/usr/bin/chromedriver";
constexpr const char *chromium = "/usr/bin/chromium";
constexpr const char *elementKey = "element-6066-11e4-a52e-4f735466cecf";

int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// A few WebDriver commands over plain HTTP.
class WebDriver {
public:
    explicit WebDriver(int port) : m_http("127.0.0.1", port) { m_http.set_read_timeout(60); }

    json command(const std::string &method, const std::string &path, const json &body = json::object())
    {
        const auto response = method == "GET" ? m_http.Get(path) : method == "DELETE" ? m_http.Delete(path)
                                                                                    : m_http.Post(path, body.dump(), "application/json");
        if (!response)
            throw std::runtime_error("no answer from chromedriver for " + path);
        return json::parse(response->body);
    }
    bool waitUntilUp()
    {
        for (int i = 0; i < 100; ++i) {
            if (auto r = m_http.Get("/status"); r && r->status == 200)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

private:
    httplib::Client m_http;
};

} // namespace

TEST(BrowserLogin, ApprovingThePageInChromiumSignsTheTerminalIn)
{
    if (!std::filesystem::exists(chromedriver) || !std::filesystem::exists(chromium))
        GTEST_SKIP() << "chromium and chromium-driver are not installed (scripts/install-deps.sh installs them)";
    TempHome home;
    LocalServer server(QUORRAL_SERVER_EXECUTABLE, home / "server.db", false);
    const std::map<std::string, std::string> env{{"HOME", home.path() + "/user"},
                                                 {"XDG_CONFIG_HOME", home.path() + "/user/.config"},
                                                 {"QUORRAL_API_URL", server.origin() + "/api"},
                                                 {"DISPLAY", ""}};
    Subprocess login({QUORRAL_EXECUTABLE, "login"}, env);
    const auto line = login.readLine();
    ASSERT_TRUE(line) << login.errorOutput();
    const std::string url = line->substr(line->find("http://"));

    // The browser is started here and the driver attached to it by address: the driver
    // would otherwise reach it as "localhost", which a minimal system may not resolve.
    const int debugPort = freeLoopbackPort();
    Subprocess browser({chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                        "--user-data-dir=" + home.path() + "/chromium", "--remote-debugging-address=127.0.0.1",
                        "--remote-debugging-port=" + std::to_string(debugPort), "about:blank"},
                       {{"HOME", home.path() + "/browser-home"}});
    httplib::Client devtools("127.0.0.1", debugPort);
    bool browserUp = false;
    for (int i = 0; i < 100 && !browserUp; ++i) {
        const auto version = devtools.Get("/json/version");
        browserUp = version && version->status == 200;
        if (!browserUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(browserUp) << browser.errorOutput();

    const int port = freeLoopbackPort();
    Subprocess driver({chromedriver, "--port=" + std::to_string(port)}, {{"HOME", home.path() + "/browser-home"}});
    WebDriver web(port);
    ASSERT_TRUE(web.waitUntilUp()) << driver.errorOutput();
    const json capabilities = {
        {"capabilities",
         {{"alwaysMatch",
           {{"browserName", "chrome"},
            {"goog:chromeOptions", {{"debuggerAddress", "127.0.0.1:" + std::to_string(debugPort)}}}}}}}};
    const json session = web.command("POST", "/session", capabilities);
    ASSERT_TRUE(session["value"].contains("sessionId")) << session.dump();
    const std::string base = "/session/" + session["value"]["sessionId"].get<std::string>();
    // Closes the browser however the test ends.
    struct SessionGuard {
        WebDriver &web;
        std::string base;
        ~SessionGuard()
        {
            try {
                web.command("DELETE", base);
            } catch (const std::exception &) {
            }
        }
    } guard{web, base};

    // Element lookups wait for the page (the click below navigates to the confirmation).
    web.command("POST", base + "/timeouts", {{"implicit", 10000}});
    web.command("POST", base + "/url", {{"url", url}});
    const json code = web.command("POST", base + "/element", {{"using", "css selector"}, {"value", "#user-code"}});
    ASSERT_TRUE(code["value"].contains(elementKey)) << code.dump();
    const json codeText = web.command("GET", base + "/element/" + code["value"][elementKey].get<std::string>() + "/text");
    EXPECT_EQ(codeText["value"], url.substr(url.find("user_code=") + 10)) << "the page shows the short user code";
    const json button = web.command("POST", base + "/element", {{"using", "css selector"}, {"value", "#approve"}});
    ASSERT_TRUE(button["value"].contains(elementKey)) << button.dump();
    web.command("POST", base + "/element/" + button["value"][elementKey].get<std::string>() + "/click");
    const json done = web.command("POST", base + "/element", {{"using", "css selector"}, {"value", "#done"}});
    EXPECT_TRUE(done["value"].contains(elementKey)) << "the page confirms the sign-in: " << done.dump();

    EXPECT_EQ(login.wait(), 0) << login.errorOutput();
    EXPECT_THAT(login.output(), HasSubstr("Signed in (key qo_sk_"));
    std::ifstream credentials(home.path() + "/user/.quorral/credentials");
    std::string key((std::istreambuf_iterator<char>(credentials)), {});
    EXPECT_TRUE(key.starts_with("qo_sk_")) << key;
    EXPECT_GE(key.size(), 6u + 32u) << "at least 128 random bits";
    browser.signal(SIGTERM);
    browser.wait();
}
