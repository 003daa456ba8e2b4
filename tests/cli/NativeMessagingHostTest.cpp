// The host as the browser starts it: the built executable with frames on its stdin.
#include "Subprocess.h"
#include "Frames.h"
#include "TempHome.h"
#include "io/ReadFile.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>

using quorral::test::Subprocess;
using quorral::test::frameOf;
using quorral::test::TempHome;
using nlohmann::json;

namespace {

// Splits standard output into frames; fails the test on anything that is not one.
std::vector<json> framesIn(const std::string &output)
{
    std::vector<json> frames;
    std::size_t position = 0;
    while (position < output.size()) {
        std::uint32_t length = 0;
        if (output.size() - position < 4) {
            ADD_FAILURE() << "stray bytes after the frames";
            break;
        }
        std::memcpy(&length, output.data() + position, 4);
        if (output.size() - position - 4 < length) {
            ADD_FAILURE() << "a frame is cut short";
            break;
        }
        frames.push_back(json::parse(output.substr(position + 4, length)));
        position += 4 + length;
    }
    return frames;
}

struct HostRun {
    int status;
    std::vector<json> replies;
    std::string errorOutput;
};

HostRun runHost(const TempHome &home, const std::vector<std::string> &inputs,
                const std::string &argument = "--native-messaging")
{
    Subprocess host({QUORRAL_EXECUTABLE, argument}, {{"HOME", home.path()}}, /*pipeInput=*/true);
    for (const auto &input : inputs)
        if (!host.writeInput(input))
            break; // the host has stopped reading
    host.closeInput();
    const int status = host.wait();
    return {status, framesIn(host.output()), host.errorOutput()};
}

const json pong = {{"type", "pong"}, {"version", "0.1.0"}, {"app", "Quorral"}};
const json invalid = {{"type", "error"}, {"message", "Invalid message format"}};

// A ping request padded with white space to exactly `size` bytes.
std::string paddedPing(std::size_t size)
{
    std::string body = R"({"type":"ping"})";
    return body + std::string(size - body.size(), ' ');
}

} // namespace

TEST(NativeMessagingHost, AnswersEveryFrameInOrderUntilInputEnds)
{
    TempHome home;
    const auto run = runHost(home, {
        frameOf(R"({"type":"ping","id":1,"more":[1,2]})") + frameOf(R"({"type":"PING"})"), // two frames, one write
        frameOf("not json"),
        frameOf(R"([{"type":"ping"}])"),
        frameOf(R"({"type":42})"),
        frameOf(paddedPing(1048575)),
        frameOf(R"({"type":"get_all"})"),
    });
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(run.replies.size(), 7u) << run.errorOutput;
    EXPECT_EQ(run.replies[0], pong);
    EXPECT_EQ(run.replies[1], (json{{"type", "error"}, {"message", "Unknown message type: PING"}}));
    EXPECT_EQ(run.replies[2], invalid);
    EXPECT_EQ(run.replies[3], invalid);
    EXPECT_EQ(run.replies[4], invalid);
    EXPECT_EQ(run.replies[5], pong);
    EXPECT_EQ(run.replies[6], (json{{"type", "all"},
                                    {"incognito_global", false},
                                    {"incognito_sources", json::array()},
                                    {"version", "0.1.0"}}));
    EXPECT_TRUE(quorral::io::exists(home / ".quorral/extension-connected"));
}

TEST(NativeMessagingHost, UnusableHeaderEndsTheHostWithoutReply)
{
    struct Case {
        const char *name;
        std::string input;
    };
    const Case cases[] = {
        {"nothing", ""},
        {"length 0", frameOf(0, "") + frameOf(R"({"type":"ping"})")},
        {"length 1048576", frameOf(paddedPing(1048576)) + frameOf(R"({"type":"ping"})")},
        {"short header", std::string("\x0f\x00", 2)},
        {"short body", frameOf(100, R"({"type":"ping"})")},
    };
    for (const auto &c : cases) {
        TempHome home;
        const auto run = runHost(home, {c.input});
        EXPECT_EQ(run.status, 0) << c.name;
        EXPECT_TRUE(run.replies.empty()) << c.name;
        EXPECT_FALSE(quorral::io::exists(home / ".quorral/extension-connected")) << c.name;
    }
}

TEST(NativeMessagingHost, BrowserOriginArgumentSelectsHostModeAndKeyIsHandedOver)
{
    TempHome home;
    home.write(".quorral/credentials", "qo_sk_stored_by_the_app");
    const auto run = runHost(home, {frameOf(R"({"type":"unknown"})") + frameOf(R"({"type":"get_api_key"})")},
                             "chrome-extension://pdkmhcfgeoabnljiepkgcdhmfaobnlji/");
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(run.replies.size(), 2u);
    EXPECT_EQ(run.replies[0], (json{{"type", "error"}, {"message", "Unknown message type: unknown"}}));
    EXPECT_EQ(run.replies[1], (json{{"type", "api_key"}, {"key", "qo_sk_stored_by_the_app"}}));
}
