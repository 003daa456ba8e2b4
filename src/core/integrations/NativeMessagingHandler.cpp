#include "integrations/NativeMessagingHandler.h"

#include "credentials/KeychainHelper.h"
#include "io/AtomicWrite.h"
#include "io/ReadFile.h"
#include "sync/SettingsCache.h"

#include <nlohmann/json.hpp>

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

// Reads the top-level "type" of a request and builds nothing else: requests are small, and
// a handler that needs no DOM has no nesting to recurse into whatever the input is.
class RequestTypeReader : public nlohmann::json_sax<nlohmann::json> {
public:
    std::optional<std::string> type;

    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t &) override { return value(); }
    bool string(string_t &text) override
    {
        if (m_depth == 1 && m_keyIsType)
            type = text;
        return value();
    }
    bool binary(binary_t &) override { return value(); }
    bool start_object(std::size_t) override { return open(true); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_array() override { return close(); }
    bool key(string_t &name) override
    {
        m_keyIsType = m_depth == 1 && name == "type";
        if (m_keyIsType)
            type.reset(); // the last of duplicate keys wins, as in a parsed object
        return true;
    }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) override
    {
        type.reset();
        return false;
    }
    bool topLevelObject() const { return m_topLevelObject; }

private:
    bool value()
    {
        m_keyIsType = false;
        return true;
    }
    bool open(bool object)
    {
        if (m_depth == 0)
            m_topLevelObject = object;
        m_keyIsType = false;
        ++m_depth;
        return true;
    }
    bool close()
    {
        --m_depth;
        return true;
    }

    std::size_t m_depth = 0;
    bool m_keyIsType = false;
    bool m_topLevelObject = false;
};

// The request's "type", absent when the body is not a JSON object with a string "type".
std::optional<std::string> requestType(std::string_view body)
{
    RequestTypeReader reader;
    if (!nlohmann::json::sax_parse(body, &reader) || !reader.topLevelObject())
        return std::nullopt;
    return reader.type;
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
