#include "tray/AvatarLoader.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>
#include <QPainterPath>

namespace quorral::app {

AvatarLoader::AvatarLoader(QObject *parent) : QObject(parent)
{
}

void AvatarLoader::load(const QUrl &url)
{
    if (m_requested && url == m_url)
        return; // in flight, shown, or failed: the same address is not fetched again
    m_requested = true;
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
    m_url = url;
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("https") && scheme != QLatin1String("http"))) {
        Q_EMIT cleared();
        return;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(static_cast<int>(timeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    m_reply = m_network.get(request);
    QNetworkReply *reply = m_reply;
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64 total) {
        if (received > maximumBytes || total > maximumBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finish(reply); });
}

void AvatarLoader::finish(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    const QImage image = reply->error() == QNetworkReply::NoError ? QImage::fromData(reply->readAll()) : QImage();
    if (image.isNull())
        Q_EMIT cleared();
    else
        Q_EMIT loaded(image);
}

QImage circularAvatar(const QImage &picture, int diameter, qreal devicePixelRatio)
{
    const int side = qRound(diameter * devicePixelRatio);
    QImage result(side, side, QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    const QImage scaled = picture.scaled(side, side, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath circle;
    circle.addEllipse(QRectF(0, 0, side, side));
    painter.setClipPath(circle);
    painter.drawImage(QPointF((side - scaled.width()) / 2.0, (side - scaled.height()) / 2.0), scaled);
    painter.end();
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

} // namespace quorral::app
