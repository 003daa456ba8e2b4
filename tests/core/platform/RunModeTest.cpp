#include "platform/RunMode.h"

#include <gtest/gtest.h>

using quorral::platform::decideRunMode;
using quorral::platform::RunMode;

TEST(RunMode, DecidedFromAnyArgument)
{
    struct Case {
        std::vector<std::string_view> arguments;
        RunMode mode;
    };
    const Case cases[] = {
        {{"/usr/bin/quorral"}, RunMode::application},
        {{"/usr/bin/quorral", "sync"}, RunMode::application},
        {{"/usr/bin/quorral", "--native-messaging"}, RunMode::host},
        {{"/usr/bin/quorral", "sync", "--native-messaging"}, RunMode::host},
        {{"/usr/bin/quorral", "chrome-extension://pdkmhcfgeoabnljiepkgcdhmfaobnlji/"}, RunMode::host},
        {{"/usr/bin/quorral", "--parent-window=0", "chrome-extension://abc/"}, RunMode::host},
        {{"/usr/bin/quorral", "x-chrome-extension://abc/"}, RunMode::application},
        {{"/usr/bin/quorral", "--native-messaging=1"}, RunMode::application},
        {{"chrome-extension://abc/"}, RunMode::host},
    };
    for (const auto &c : cases)
        EXPECT_EQ(decideRunMode(c.arguments), c.mode) << c.arguments.back();
}
