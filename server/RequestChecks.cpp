#include "RequestChecks.h"

#include <algorithm>
#include <cctype>

namespace quorral::server {
namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

bool isPort(std::string_view text)
{
    return !text.empty() && text.size() <= 5 && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

} // namespace

std::optional<std::string> cookieValue(std::string_view header, std::string_view name)
{
    while (!header.empty()) {
        const auto end = header.find(';');
        const std::string_view pair = trimmed(header.substr(0, end));
        const auto equals = pair.find('=');
        if (equals != std::string_view::npos && trimmed(pair.substr(0, equals)) == name)
            return std::string(trimmed(pair.substr(equals + 1)));
        if (end == std::string_view::npos)
            break;
        header.remove_prefix(end + 1);
    }
    return std::nullopt;
}

bool isLoopbackHost(std::string_view host)
{
    std::string_view name = host;
    if (host.starts_with("[")) {
        const auto close = host.find(']');
        if (close == std::string_view::npos)
            return false;
        name = host.substr(0, close + 1);
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty() && !(rest[0] == ':' && isPort(rest.substr(1))))
            return false;
    } else if (const auto colon = host.find(':'); colon != std::string_view::npos) {
        if (!isPort(host.substr(colon + 1)))
            return false;
        name = host.substr(0, colon);
    }
    return equalsIgnoringCase(name, "localhost") || name == "127.0.0.1" || name == "[::1]";
}

bool isLocalPath(std::string_view target)
{
    if (target.empty() || target.size() > 2048 || target[0] != '/')
        return false;
    if (target.find("//") != std::string_view::npos || target.find('\\') != std::string_view::npos)
        return false;
    return std::none_of(target.begin(), target.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

bool isSameOrigin(std::string_view value, std::string_view origin)
{
    if (value.size() < origin.size() || !equalsIgnoringCase(value.substr(0, origin.size()), origin))
        return false;
    // A Referer goes on with a path; "http://127.0.0.1:8787.evil.example" must not pass.
    return value.size() == origin.size() || value[origin.size()] == '/';
}

bool secretsEqual(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

} // namespace quorral::server
