#pragma once

// Drives the local service's browser pages the way a browser does: a form is loaded first,
// for its hidden token and cookie, then posted. Header-only; the includer links cpp-httplib.
#include <httplib.h>

#include <string>

namespace quorral::test {

// The value of the hidden "csrf_token" field of a page; empty when it has none.
inline std::string formToken(const std::string &html)
{
    const std::string marker = "name=\"csrf_token\" value=\"";
    const auto at = html.find(marker);
    if (at == std::string::npos)
        return {};
    const auto start = at + marker.size();
    return html.substr(start, html.find('"', start) - start);
}

// "name=value" of every cookie a response sets, joined as a request's Cookie header.
inline std::string cookiesSetBy(const httplib::Response &response)
{
    std::string cookies;
    for (std::size_t i = 0; i < response.get_header_value_count("Set-Cookie"); ++i) {
        const std::string cookie = response.get_header_value("Set-Cookie", i);
        cookies += (cookies.empty() ? "" : "; ") + cookie.substr(0, cookie.find(';'));
    }
    return cookies;
}

// Loads `page` with `cookie`, then posts `form` to `action` with the page's token and any
// cookie the page set, from the service's own origin (the service on 127.0.0.1:`port`).
inline httplib::Result submitForm(int port, const std::string &page, const std::string &action, std::string cookie,
                                  const std::string &form)
{
    httplib::Client http("127.0.0.1", port);
    http.set_read_timeout(30);
    httplib::Headers headers;
    if (!cookie.empty())
        headers.emplace("Cookie", cookie);
    auto loaded = http.Get(page, headers);
    if (!loaded)
        return loaded;
    const std::string set = cookiesSetBy(*loaded);
    if (!set.empty())
        cookie += (cookie.empty() ? "" : "; ") + set;
    httplib::Headers postHeaders{{"Origin", "http://127.0.0.1:" + std::to_string(port)}};
    if (!cookie.empty())
        postHeaders.emplace("Cookie", cookie);
    const std::string body = form + (form.empty() ? "" : "&") + "csrf_token=" + formToken(loaded->body);
    return http.Post(action, postHeaders, body, "application/x-www-form-urlencoded");
}

// Approves a pending device login as the page's button does; the HTTP status, or -1.
inline int approveDeviceLogin(int port, const std::string &userCode)
{
    const auto result = submitForm(port, "/device?user_code=" + userCode, "/device/approve", "", "user_code=" + userCode);
    return result ? result->status : -1;
}

} // namespace quorral::test
