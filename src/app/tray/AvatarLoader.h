#pragma once

#include <QImage>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <chrono>

class QNetworkReply;

namespace quorral::app {

// Fetches the account's avatar picture in the background: http(s) only, a size cap and a
// time-out, so a slow or hostile address costs nothing but the initial staying in place.
// A newer request replaces an older one still in flight.
class AvatarLoader : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 maximumBytes = 2 * 1024 * 1024;
    static constexpr std::chrono::milliseconds timeout{10000};

    explicit AvatarLoader(QObject *parent = nullptr);

    // An empty or non-http(s) URL clears the picture at once (`cleared`).
    void load(const QUrl &url);
    const QUrl &url() const { return m_url; }

Q_SIGNALS:
    void loaded(const QImage &image);
    void cleared();

private:
    void finish(QNetworkReply *reply);

    QNetworkAccessManager m_network;
    QPointer<QNetworkReply> m_reply;
    QUrl m_url;
    bool m_requested = false;
};

// The picture cut to a circle of `diameter` pixels (scaled to cover it, centred).
QImage circularAvatar(const QImage &picture, int diameter, qreal devicePixelRatio = 1.0);

} // namespace quorral::app
