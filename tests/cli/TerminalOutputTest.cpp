#include "Subprocess.h"
#include "TempHome.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

using quorral::test::Subprocess;
using quorral::test::TempHome;
using testing::HasSubstr;
using testing::Not;

namespace {

// Retitles the window, writes the clipboard (OSC 52) and clears the screen through a C1 CSI.
const std::string hostile = "\x1b]0;owned\x07 \x1b]52;c;cm0gLXJmIH4K\x1b\\ \xC2\x9B" "2J\r";

struct Run {
    int status;
    std::string out, err;
};

Run run(const TempHome &home, std::vector<std::string> args, std::map<std::string, std::string> environment = {})
{
    args.insert(args.begin(), QUORRAL_EXECUTABLE);
    environment.insert({{"HOME", home.path()}, {"XDG_CACHE_HOME", home / "cache"}, {"TZ", "UTC"}, {"DISPLAY", ""}});
    Subprocess process(args, environment);
    const int status = process.wait();
    return {status, process.output(), process.errorOutput()};
}

// Nothing that a terminal would act on: no ESC, no BEL, no CR but before a line feed, no C1 control.
testing::AssertionResult isInert(const std::string &text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool lineEnd = c == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        const bool c0 = c < 0x20 && c != '\n' && c != '\t' && !lineEnd;
        const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c0 || c == 0x7F || c1)
            return testing::AssertionFailure() << "control byte " << int(c) << " at " << i;
    }
    return testing::AssertionSuccess();
}

std::string claudeLog(const std::string &text)
{
    const nlohmann::json line = {{"type", "user"},        {"uuid", "u1"},
                                 {"sessionId", "s-esc"},  {"cwd", "/w/" + hostile},
                                 {"timestamp", "2025-06-12T10:00:00Z"},
                                 {"message", {{"role", "user"}, {"content", text}}}};
    return line.dump() + "\n";
}

} // namespace

TEST(TerminalOutput, LogTextCannotDriveTheTerminal)
{
    TempHome home;
    const auto log = home.write(".claude/projects/-w/s-esc.jsonl", claudeLog("please " + hostile + " fix it"));

    const auto shown = run(home, {"scan", "--show", log});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_TRUE(isInert(shown.out));
    EXPECT_TRUE(isInert(shown.err));
    EXPECT_THAT(shown.out, HasSubstr("please \\u001b]0;owned\\u0007 \\u001b]52;c;"));

    const auto list = run(home, {"conversations"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_TRUE(isInert(list.out));
    EXPECT_THAT(list.out, HasSubstr("1 of 1 conversations"));

    const auto json = run(home, {"conversations", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_TRUE(isInert(json.out));
    EXPECT_EQ(nlohmann::json::parse(json.out)[0]["cwd"], "/w/" + hostile) << "the JSON still holds the real text";

    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"conversations", "show", "s-esc"}, {"conversations", "show", "s-esc", "--markdown"}}) {
        const auto transcript = run(home, args);
        ASSERT_EQ(transcript.status, 0) << transcript.err;
        EXPECT_TRUE(isInert(transcript.out)) << args.back();
        EXPECT_THAT(transcript.out, HasSubstr("\\u009b2J\\u000d")) << args.back();
    }
}

TEST(TerminalOutput, ServiceErrorBodyCannotDriveTheTerminal)
{
    httplib::Server service;
    const auto answer = [](const httplib::Request &, httplib::Response &response) {
        response.status = 500;
        response.set_content("internal " + hostile, "text/plain");
    };
    service.Get(".*", answer);
    service.Post(".*", answer);
    const int port = service.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread serving([&] { service.listen_after_bind(); });

    TempHome home;
    home.write(".quorral/credentials", "qo_sk_0123456789abcdef");
    const auto remembered =
        run(home, {"remember", "something"}, {{"QUORRAL_API_URL", "http://127.0.0.1:" + std::to_string(port) + "/api"}});
    service.stop();
    serving.join();

    EXPECT_EQ(remembered.status, 1);
    EXPECT_THAT(remembered.err, HasSubstr("the memory was not saved: the service at http://127.0.0.1:" + std::to_string(port) + "/api failed with 500: internal \\u001b]0;owned\\u0007"));
    EXPECT_TRUE(isInert(remembered.err));
}
