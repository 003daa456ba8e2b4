#include "integrations/NativeMessagingHandler.h"

#include "credentials/KeychainHelper.h"
#include "io/AtomicWrite.h"
#include "io/ReadFile.h"
#include "sync/SettingsCache.h"

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace quorral::integrations::NativeMessagingHandler {
namespace {

// Fills `length` bytes unless the input ends first; returns how many arrived.
std::size_t readFully(const ReadSome &readSome, char *destination, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        const std::size_t n = readSome(destination + done, length - done);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

void waitUntilReady(int fd, short events)
{
    pollfd entry{fd, events, 0};
    ::poll(&entry, 1, -1);
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                waitUntilReady(fd, POLLOUT);
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

nlohmann::json errorReply(std::string message)
{
    return {{"type", "error"}, {"message", std::move(message)}};
}

std::optional<std::string> storedKey(const std::string &home)
{
    credentials::NoLegacyKeychain noLegacy;
    return credentials::KeychainHelper(home, noLegacy).load();
}

// The request's "type", absent when the body is not a JSON object with a string "type".
std::optional<std::string> requestType(std::string_view body)
{
    // One parser per thread keeps its buffers between requests; the depth bound of the
    // parser turns absurdly nested input into a parse error.
    thread_local simdjson::dom::parser parser;
    simdjson::dom::element document;
    if (parser.parse(body.data(), body.size()).get(document) != simdjson::SUCCESS)
        return std::nullopt;
    simdjson::dom::object object;
    if (document.get_object().get(object) != simdjson::SUCCESS)
        return std::nullopt;
    std::string_view type;
    if (object["type"].get_string().get(type) != simdjson::SUCCESS)
        return std::nullopt;
    return std::string(type);
}

} // namespace

std::optional<std::string> readMessage(const ReadSome &readSome)
{
    unsigned char header[4];
    if (readFully(readSome, reinterpret_cast<char *>(header), sizeof header) < sizeof header)
        return std::nullopt;
    std::uint32_t length = 0;
    std::memcpy(&length, header, sizeof length); // native byte order, as the browsers write it
    if (length == 0 || length > maximumMessageLength)
        return std::nullopt;
    std::string body(length, '\0');
    if (readFully(readSome, body.data(), body.size()) < body.size())
        return std::nullopt;
    return body;
}

std::optional<std::string> readMessage(int fd)
{
    return readMessage([fd](char *destination, std::size_t length) -> std::size_t {
        for (;;) {
            const ssize_t n = ::read(fd, destination, length);
            if (n >= 0)
                return static_cast<std::size_t>(n);
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                waitUntilReady(fd, POLLIN);
                continue;
            }
            return 0;
        }
    });
}

nlohmann::json handleMessage(std::string_view body, const std::string &home)
{
    const auto type = requestType(body);
    if (!type)
        return errorReply("Invalid message format");

    if (*type == "ping") {
        markExtensionConnected(home);
        return {{"type", "pong"}, {"version", hostProtocolVersion}, {"app", "Quorral"}};
    }
    if (*type == "get_api_key") {
        markExtensionConnected(home);
        const auto key = storedKey(home);
        if (!key)
            return errorReply("No API key configured");
        return {{"type", "api_key"}, {"key", *key}};
    }
    if (*type == "get_settings") {
        markExtensionConnected(home);
        const auto settings = readSettingsCache(home);
        return {{"type", "settings"},
                {"incognito_global", settings.incognitoGlobal},
                {"incognito_sources", settings.incognitoSources}};
    }
    if (*type == "get_all") {
        markExtensionConnected(home);
        const auto settings = readSettingsCache(home);
        nlohmann::json reply = {{"type", "all"},
                                {"incognito_global", settings.incognitoGlobal},
                                {"incognito_sources", settings.incognitoSources},
                                {"version", hostProtocolVersion}};
        if (const auto key = storedKey(home))
            reply["key"] = *key;
        return reply;
    }
    return errorReply("Unknown message type: " + *type);
}

std::optional<std::string> encodeFrame(const nlohmann::json &reply)
{
    std::string text;
    try {
        text = reply.dump();
    } catch (const nlohmann::json::exception &) {
        return std::nullopt;
    }
    const auto length = static_cast<std::uint32_t>(text.size());
    std::string frame(sizeof length, '\0');
    std::memcpy(frame.data(), &length, sizeof length);
    return frame + text;
}

void markExtensionConnected(const std::string &home)
{
    io::createDirectories(home + "/.quorral");
    io::writeFileAtomically(home + "/.quorral/extension-connected",
                            sync::internetDateTime(std::chrono::system_clock::now()));
}

bool isExtensionConnected(const std::string &home)
{
    return io::exists(home + "/.quorral/extension-connected");
}

IncognitoSettings readSettingsCache(const std::string &home)
{
    IncognitoSettings settings;
    const auto content = io::readWholeFile(sync::settingsCachePath(home));
    if (!content)
        return settings;
    const auto root = nlohmann::json::parse(*content, nullptr, /*allow_exceptions=*/false);
    if (!root.is_object())
        return settings;
    if (const auto global = root.find("incognito_global"); global != root.end() && global->is_boolean())
        settings.incognitoGlobal = global->get<bool>();
    if (const auto sources = root.find("incognito_sources"); sources != root.end() && sources->is_array()) {
        std::vector<std::string> names;
        for (const auto &source : *sources) {
            if (!source.is_string())
                return settings;
            names.push_back(source.get<std::string>());
        }
        settings.incognitoSources = std::move(names);
    }
    return settings;
}

int runHost(const std::string &home, int input, int output)
{
    while (const auto body = readMessage(input)) {
        const auto frame = encodeFrame(handleMessage(*body, home));
        // The length and the text go out as one write, so a reader never sees half a frame.
        if (frame && !writeAll(output, *frame))
            break; // the browser stopped reading
    }
    return 0;
}

} // namespace quorral::integrations::NativeMessagingHandler
