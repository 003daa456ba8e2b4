#include "Pages.h"

#include <ctime>

namespace quorral::server {
namespace {

std::string page(const std::string &title, const std::string &body)
{
    return "<!doctype html><html><head><meta charset=\"utf-8\"><title>" + htmlEscape(title)
        + " · Quorral</title><style>"
          // CJK text and emoji are common in transcripts: name fonts that carry them before the generic family.
          "body{font-family:system-ui,\"Noto Sans\",\"Noto Sans CJK SC\",\"Noto Sans CJK JP\",\"Noto Color Emoji\",sans-serif;"
          "color:#1d2433;background:#fbfbfd;line-height:1.5;max-width:46em;margin:2em auto;padding:0 1em}"
          "code{font-size:1.4em;letter-spacing:.1em}li{margin:.6em 0}.meta{color:#666;font-size:.85em}"
          "pre{white-space:pre-wrap;background:#f4f4f4;padding:.5em;max-height:12em;overflow:auto}</style></head><body>"
        + body + "</body></html>";
}

std::string isoTime(double seconds)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &tm);
    return text;
}

std::string tokenField(const std::string &formToken)
{
    return "<input type=\"hidden\" name=\"csrf_token\" value=\"" + htmlEscape(formToken) + "\">";
}

std::string logoutForm(const std::string &formToken)
{
    return "<form method=\"post\" action=\"/logout\">" + tokenField(formToken) + "<button id=\"logout\" type=\"submit\">Sign out</button></form>";
}

} // namespace

std::string htmlEscape(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string devicePage(const std::string &userCode, const std::string &state, const std::string &formToken)
{
    if (state == "pending") {
        return page("Sign in", "<h1>Sign in to Quorral</h1><p>Check that this code matches the one your app shows:</p>"
                               "<p><code id=\"user-code\">" + htmlEscape(userCode) + "</code></p>"
                               "<form method=\"post\" action=\"/device/approve\"><input type=\"hidden\" name=\"user_code\" value=\""
                               + htmlEscape(userCode) + "\">" + tokenField(formToken) + "<button id=\"approve\" type=\"submit\">Approve</button></form>");
    }
    if (state == "granted")
        return page("Signed in", "<h1 id=\"done\">You are signed in</h1><p>You can close this page and return to Quorral.</p>");
    return page("Expired", "<h1 id=\"expired\">This sign-in request has expired</h1><p>Start the login again in Quorral.</p>");
}

std::string dashboardPage(const std::string &displayName, const std::vector<FileHistory> &files, const std::string &formToken)
{
    std::size_t count = 0;
    for (const auto &file : files)
        count += file.increments.size();
    std::string body = "<h1>" + htmlEscape(displayName) + "’s memories</h1><p><a href=\"/settings\">Settings</a></p>"
        + logoutForm(formToken) + "<p id=\"count\">" + std::to_string(count) + " memories in " + std::to_string(files.size())
        + " files</p><div id=\"memories\">";
    for (const auto &file : files) {
        body += "<section class=\"file\"><h2>" + htmlEscape(file.source) + " · " + htmlEscape(file.path.value_or("typed by you"))
            + "</h2><ol>";
        for (const auto &m : file.increments) {
            body += "<li><div class=\"meta\">" + (m.contextTag ? htmlEscape(*m.contextTag) + " · " : std::string())
                + isoTime(m.createdAt) + "</div><pre>" + htmlEscape(m.content) + (m.cut ? "…" : "") + "</pre></li>";
        }
        body += "</ol></section>";
    }
    return page("Dashboard", body + "</div>");
}

std::string settingsPage(bool incognitoGlobal, const std::vector<std::pair<std::string, bool>> &sources, bool saved,
                         const std::string &formToken)
{
    std::string body = "<h1>Privacy settings</h1>";
    if (saved)
        body += "<p id=\"saved\">Saved.</p>";
    body += "<form method=\"post\" action=\"/settings\">" + tokenField(formToken) + "<p><label><input type=\"checkbox\" name=\"incognito_global\" value=\"1\""
        + std::string(incognitoGlobal ? " checked" : "") + "> Incognito everywhere: accept no uploads</label></p><p>Per tool:</p>";
    for (const auto &[source, on] : sources) {
        body += "<p><label><input type=\"checkbox\" name=\"incognito_source\" value=\"" + htmlEscape(source) + "\""
            + (on ? " checked" : "") + "> " + htmlEscape(source) + "</label></p>";
    }
    return page("Settings", body + "<button type=\"submit\">Save</button></form><p><a href=\"/dashboard\">Dashboard</a></p>"
                                   + logoutForm(formToken));
}

std::string messagePage(const std::string &title, const std::string &text)
{
    return page(title, "<h1>" + htmlEscape(title) + "</h1><p>" + htmlEscape(text) + "</p>");
}

} // namespace quorral::server
