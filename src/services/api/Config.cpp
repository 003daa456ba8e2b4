#include "api/Config.h"

#include <QString>

#include <cstdlib>

namespace quorral::api {

QUrl Config::dashboardURL() const
{
    return QUrl(serviceOrigin.toString() + QStringLiteral("/dashboard"));
}

QUrl Config::settingsURL() const
{
    return QUrl(serviceOrigin.toString() + QStringLiteral("/settings"));
}

Config Config::forOrigin(const QUrl &origin)
{
    return Config{origin, QUrl(origin.toString() + QStringLiteral("/api"))};
}

Config Config::fromEnvironment()
{
    Config config = forOrigin(QUrl(QString::fromUtf8(QUORRAL_SERVICE_ORIGIN)));
    const char *override = std::getenv("QUORRAL_API_URL");
    if (override == nullptr)
        return config;
    const QUrl url(QString::fromUtf8(override), QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.isRelative() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        throw ConfigError(std::string("QUORRAL_API_URL is not an absolute http(s) URL: \"") + override + "\"");
    config.apiBaseURL = url;
    return config;
}

} // namespace quorral::api
