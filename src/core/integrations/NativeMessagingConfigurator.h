#pragma once

#include "integrations/RemovalResult.h"
#include "platform/BrowserLocations.h"

#include <string>
#include <string_view>
#include <vector>

// Installs the native-messaging host manifest "com.quorral.native.json" in every
// installed Chromium-family browser, so that the browser extension can start this program.
namespace quorral::integrations::NativeMessagingConfigurator {

// The extension the manifests admit.
inline constexpr std::string_view productExtensionID = "pdkmhcfgeoabnljiepkgcdhmfaobnlji";
inline constexpr std::string_view manifestFileName = "com.quorral.native.json";

struct Result {
    std::string id;
    std::string browser;
    bool success = false;

    bool operator==(const Result &) const = default;
};

// One result per installed browser, in table order; browsers that are not installed are
// skipped without a record. An existing manifest is replaced whatever it holds.
std::vector<Result> configureAll(const std::vector<platform::BrowserHostLocation> &browsers,
                                 std::string_view extensionID, const std::string &executablePath);

// Takes our manifest out of every browser's host directory again, one result per browser
// with a host directory, in table order. Manifests of other hosts are not touched; a
// read-only manifest is left and reported.
std::vector<RemovalResult> removeAll(const std::vector<platform::BrowserHostLocation> &browsers);

// The manifest: name, description, the executable's absolute path, "stdio" and the one
// allowed origin, pretty-printed with sorted keys.
std::string buildManifest(std::string_view extensionID, const std::string &executablePath);

} // namespace quorral::integrations::NativeMessagingConfigurator
