#include "integrations/NativeMessagingConfigurator.h"

#include "TempHome.h"
#include "io/ReadFile.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace quorral::integrations;
using namespace quorral::integrations::NativeMessagingConfigurator;
using quorral::platform::browserHostLocationsForLinux;
using quorral::platform::browserHostLocationsForMac;
using quorral::test::TempHome;

namespace {

const std::string exe = "/opt/quorral/bin/quorral";

std::vector<Result> configure(const TempHome &home)
{
    return configureAll(browserHostLocationsForLinux(home.path(), std::nullopt), productExtensionID, exe);
}

} // namespace

TEST(NativeMessagingConfigurator, ManifestHasExactlyFiveMembers)
{
    const auto manifest = nlohmann::json::parse(buildManifest(productExtensionID, exe));
    EXPECT_EQ(manifest, nlohmann::json::parse(R"({
        "name": "com.quorral.native",
        "description": "Quorral Native Messaging Host — API Key sync & extension bridge",
        "path": "/opt/quorral/bin/quorral",
        "type": "stdio",
        "allowed_origins": ["chrome-extension://pdkmhcfgeoabnljiepkgcdhmfaobnlji/"]})"));
    const auto text = buildManifest(productExtensionID, exe);
    EXPECT_LT(text.find("allowed_origins"), text.find("description"));
    EXPECT_LT(text.find("\"path\""), text.find("\"type\""));
}

TEST(NativeMessagingConfigurator, OnlyInstalledBrowsersGetAManifest)
{
    TempHome home;
    EXPECT_TRUE(configure(home).empty());
    EXPECT_FALSE(quorral::io::exists(home / ".config/google-chrome"));

    home.mkdir(".config/google-chrome");
    EXPECT_EQ(configure(home), (std::vector<Result>{{"Chrome", "Chrome", true}}));
    const auto path = home / ".config/google-chrome/NativeMessagingHosts/com.quorral.native.json";
    EXPECT_EQ(quorral::io::readWholeFile(path), buildManifest(productExtensionID, exe));

    // A hand-edited manifest is replaced; another host's manifest stays.
    home.write(".config/google-chrome/NativeMessagingHosts/com.quorral.native.json", "{\"edited\": true}");
    home.write(".config/google-chrome/NativeMessagingHosts/com.other.json", "{}");
    EXPECT_EQ(configure(home).size(), 1u);
    EXPECT_EQ(quorral::io::readWholeFile(path), buildManifest(productExtensionID, exe));
    EXPECT_EQ(quorral::io::readWholeFile(home / ".config/google-chrome/NativeMessagingHosts/com.other.json"), "{}");
}

TEST(NativeMessagingConfigurator, BlockedHostFolderFailsThatBrowserOnly)
{
    TempHome home;
    home.mkdir(".config/chromium");
    home.mkdir(".config/BraveSoftware/Brave-Browser");
    home.write(".config/vivaldi/NativeMessagingHosts", "a plain file");
    EXPECT_EQ(configure(home), (std::vector<Result>{{"Brave", "Brave", true},
                                                    {"Chromium", "Chromium", true},
                                                    {"Vivaldi", "Vivaldi", false}}));
}

TEST(NativeMessagingConfigurator, MacTableUsesArcUserData)
{
    TempHome home;
    home.mkdir("Library/Application Support/Arc/User Data");
    home.mkdir("Library/Application Support/Arc/NativeMessagingHosts-not-this");
    const auto results = configureAll(browserHostLocationsForMac(home.path()), productExtensionID, exe);
    EXPECT_EQ(results, (std::vector<Result>{{"Arc", "Arc", true}}));
    EXPECT_TRUE(quorral::io::exists(home / "Library/Application Support/Arc/User Data/NativeMessagingHosts/"
                                           "com.quorral.native.json"));
}

TEST(NativeMessagingConfigurator, LinuxTableFollowsXdgConfigHome)
{
    TempHome home;
    home.mkdir("xdg/opera");
    const auto results =
        configureAll(browserHostLocationsForLinux(home.path(), home / "xdg"), productExtensionID, exe);
    EXPECT_EQ(results, (std::vector<Result>{{"Opera", "Opera", true}}));
}

TEST(NativeMessagingConfigurator, RemovalTakesOutOurManifestOnly)
{
    TempHome home;
    home.mkdir(".config/google-chrome");
    home.mkdir(".config/chromium");
    home.mkdir(".config/BraveSoftware/Brave-Browser");
    ASSERT_EQ(configure(home).size(), 3u);
    const auto other = home.write(".config/google-chrome/NativeMessagingHosts/com.other.json", "{}");
    const auto brave = home / ".config/BraveSoftware/Brave-Browser/NativeMessagingHosts/com.quorral.native.json";
    ::chmod(brave.c_str(), 0444);

    const auto results = removeAll(browserHostLocationsForLinux(home.path(), std::nullopt));
    std::vector<std::pair<std::string, RemovalResult::Outcome>> outcomes;
    for (const auto &result : results)
        if (result.outcome != RemovalResult::Outcome::absent)
            outcomes.emplace_back(result.label, result.outcome);
    EXPECT_EQ(outcomes, (std::vector<std::pair<std::string, RemovalResult::Outcome>>{
                            {"Chrome extension host", RemovalResult::Outcome::removed},
                            {"Brave extension host", RemovalResult::Outcome::failed},
                            {"Chromium extension host", RemovalResult::Outcome::removed},
                        }));
    EXPECT_FALSE(quorral::io::exists(home / ".config/google-chrome/NativeMessagingHosts/com.quorral.native.json"));
    EXPECT_FALSE(quorral::io::exists(home / ".config/chromium/NativeMessagingHosts/com.quorral.native.json"));
    EXPECT_EQ(quorral::io::readWholeFile(other), "{}");
    EXPECT_EQ(quorral::io::readWholeFile(brave), buildManifest(productExtensionID, exe));
}
