#pragma once

#include <QUrl>

#include <stdexcept>

namespace quorral::api {

struct ConfigError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Where the memory service lives. Read once at start-up and passed on.
struct Config {
    QUrl serviceOrigin;
    QUrl apiBaseURL;

    QUrl dashboardURL() const;
    QUrl settingsURL() const;

    // The compiled-in origin, with QUORRAL_API_URL (verbatim) as the API base when set.
    // Throws ConfigError, naming the variable, when the override is not an absolute
    // http(s) URL: the program cannot run against it.
    static Config fromEnvironment();
    static Config forOrigin(const QUrl &origin);
};

} // namespace quorral::api
