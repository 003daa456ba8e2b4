#include "TempHome.h"
#include "platform/LoginItem.h"
#include "platform/WizardBrowsers.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace quorral;
using quorral::test::TempHome;

namespace {

std::string read(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(LoginItem, TheAutostartEntryStartsTheAbsoluteExecutable)
{
    TempHome home;
    ASSERT_FALSE(platform::registerLoginItem(home.path(), std::nullopt, "/opt/quorral/bin/quorral"));
    const std::string path = home / ".config/autostart/quorral.desktop";
    const std::string entry = read(path);
    EXPECT_THAT(entry, testing::StartsWith("[Desktop Entry]\n"));
    EXPECT_THAT(entry, testing::HasSubstr("\nType=Application\n"));
    EXPECT_THAT(entry, testing::HasSubstr("\nExec=/opt/quorral/bin/quorral\n"));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    // Under $XDG_CONFIG_HOME when set; a path with a space, a quote and a percent sign is quoted.
    const std::string config = home.mkdir("xdg");
    ASSERT_FALSE(platform::registerLoginItem(home.path(), config, "/home/a b/q\"uo%rral"));
    EXPECT_THAT(read(config + "/autostart/quorral.desktop"), testing::HasSubstr("\nExec=\"/home/a b/q\\\\\"uo%%rral\"\n"));

    // Where the folder cannot be made, it says why; nothing else happens.
    home.write("blocked", "a file where the config folder would be");
    const auto failure = platform::registerLoginItem(home.path(), home / "blocked", "/usr/bin/quorral");
    ASSERT_TRUE(failure);
    EXPECT_THAT(failure->message(), testing::HasSubstr("blocked"));
}

TEST(WizardBrowsers, TheTableInDetectionOrderAndTheLinuxRules)
{
    std::vector<std::string> ids;
    for (const auto &browser : platform::wizardBrowserTable())
        ids.push_back(browser.id);
    EXPECT_THAT(ids, testing::ElementsAre("chrome", "arc", "edge", "brave", "safari", "360", "opera", "chromium", "vivaldi"));
    const auto table = platform::wizardBrowserTable();
    EXPECT_EQ(table[2].storeURL, platform::edgeAddonsSearchURL);
    EXPECT_TRUE(table[4].storeURL.empty()) << "Safari has no extension yet";

    TempHome home;
    const std::string bin = home.mkdir("bin");
    const std::string apps = home.mkdir("apps");
    for (const char *name : {"safari", "arc", "360", "chromium-browser"}) {
        home.write(std::string("bin/") + name, "#!/bin/sh\n");
        std::filesystem::permissions(bin + "/" + name, std::filesystem::perms::owner_all);
    }
    home.write("apps/vivaldi-stable.desktop", "[Desktop Entry]\n");
    std::vector<std::string> installed;
    for (const auto &browser : platform::detectBrowsers({{bin}, {apps}})) {
        if (browser.isInstalled)
            installed.push_back(browser.id);
    }
    EXPECT_THAT(installed, testing::ElementsAre("chromium", "vivaldi")) << "Safari, Arc and 360 never count on Linux";
}
