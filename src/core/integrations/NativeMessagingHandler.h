#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The native-messaging host the browser extension talks to: length-prefixed JSON frames
// on stdin and stdout. Every request reads the credentials and the settings cache afresh,
// so a key stored by another process is seen by the next request.
namespace quorral::integrations::NativeMessagingHandler {

inline constexpr std::string_view hostProtocolVersion = "0.1.0";
// Incoming bodies hold at least one and at most 0xFFFFF bytes.
inline constexpr std::uint32_t maximumMessageLength = 0xFFFFF;

struct IncognitoSettings {
    bool incognitoGlobal = false;
    std::vector<std::string> incognitoSources;
};

// Reads up to `length` bytes into `destination`, blocking until some arrive; 0 at the
// end of the input (or on a read error).
using ReadSome = std::function<std::size_t(char *destination, std::size_t length)>;

// One frame's body: a 4-byte length in native byte order, then that many bytes. Absent
// at the end of input, on a short header or body, and on a length of 0 or above the limit.
std::optional<std::string> readMessage(const ReadSome &readSome);
std::optional<std::string> readMessage(int fd);

// The reply to one request body. Never throws.
nlohmann::json handleMessage(std::string_view body, const std::string &home);

// The reply as a frame (length, then compact JSON); absent when it cannot be serialised.
std::optional<std::string> encodeFrame(const nlohmann::json &reply);

// "~/.quorral/extension-connected" with the current UTC time; failures are ignored.
void markExtensionConnected(const std::string &home);
bool isExtensionConnected(const std::string &home);

// The incognito settings mirrored by the background sync; never fails.
IncognitoSettings readSettingsCache(const std::string &home);

// The host loop over two descriptors until the input ends or a frame is unusable, or
// the browser stops reading. Returns the exit status, 0.
int runHost(const std::string &home, int input, int output);

} // namespace quorral::integrations::NativeMessagingHandler
