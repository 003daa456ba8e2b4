#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorral::server {

// The value of the cookie called exactly `name` in a Cookie header ("a=1; b=2").
std::optional<std::string> cookieValue(std::string_view header, std::string_view name);

// Whether a Host header names this machine's loopback interface (localhost, 127.0.0.1 or
// [::1], with or without a port). Anything else may be a rebound DNS name.
bool isLoopbackHost(std::string_view host);

// Whether `target` is a path on this origin that a redirect may follow: one leading slash,
// no backslash, no "//" and no control characters.
bool isLocalPath(std::string_view target);

// Whether an Origin or Referer value belongs to `origin` ("http://127.0.0.1:8787").
bool isSameOrigin(std::string_view value, std::string_view origin);

// Compares two secrets in time that does not depend on where they differ.
bool secretsEqual(std::string_view a, std::string_view b);

} // namespace quorral::server
