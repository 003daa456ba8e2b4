// The desktop application's modes as a user starts them: the built `quorral`, which execs
// the Qt program for them. The windows are drawn offscreen; there is no tray host, so the
// tray keeps retrying in the background while the test runs.
#include "Subprocess.h"
#include "TempHome.h"

#include <gmock/gmock.h>

#include <csignal>
#include <thread>

using quorral::test::Subprocess;
using quorral::test::TempHome;
using testing::HasSubstr;
using testing::Not;

namespace {

std::map<std::string, std::string> environment(const TempHome &home, const std::string &display)
{
    return {{"HOME", home.path()},
            {"XDG_CONFIG_HOME", home / ".config"},
            {"XDG_RUNTIME_DIR", home.mkdir("run")},
            {"DISPLAY", display},
            {"WAYLAND_DISPLAY", ""},
            {"QT_QPA_PLATFORM", "offscreen"},
            // Nothing listens there: the application must start without its service.
            {"QUORRAL_API_URL", "http://127.0.0.1:9/api"}};
}

} // namespace

TEST(DesktopApp, WithoutADisplayItPointsToTheCommandsAndFails)
{
    TempHome home;
    Subprocess app({QUORRAL_EXECUTABLE}, environment(home, ""));
    EXPECT_EQ(app.wait(), 1);
    EXPECT_THAT(app.errorOutput(), HasSubstr("no graphical session"));
    EXPECT_THAT(app.errorOutput(), HasSubstr("\n  sync "));

    Subprocess version({QUORRAL_EXECUTABLE, "--version"}, environment(home, ""));
    EXPECT_EQ(version.readLine(), "quorral " QUORRAL_VERSION);
    EXPECT_EQ(version.wait(), 0);
}

TEST(DesktopApp, ALaterStartHandsOverAndSigtermQuitsCleanly)
{
    TempHome home;
    const auto env = environment(home, ":99");
    Subprocess first({QUORRAL_EXECUTABLE}, env);
    // Until the first listens, a later start waits for it (up to a few seconds).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (const char *mode : {"--quick-input", ""}) {
        std::vector<std::string> args{QUORRAL_EXECUTABLE};
        if (*mode)
            args.emplace_back(mode);
        Subprocess later(args, env);
        EXPECT_EQ(later.wait(), 0) << mode << ": " << later.errorOutput();
    }
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(), 0) << first.errorOutput();
    // It was the one application all along, and it did not stop for want of a tray.
    EXPECT_THAT(first.errorOutput(), Not(HasSubstr("cannot")));
}
