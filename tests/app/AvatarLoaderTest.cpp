#include "AppFixture.h"
#include "tray/AvatarLoader.h"

#include <QBuffer>
#include <QSignalSpy>

#include <httplib.h>

#include <gtest/gtest.h>

#include <thread>

using quorral::app::AvatarLoader;
using quorral::app::circularAvatar;
using quorral::test::waitUntil;

namespace {

std::string redSquarePng()
{
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

// A picture host on loopback: a picture, a missing one, one above the cap, and text.
class PictureHost {
public:
    PictureHost()
    {
        m_server.Get("/me.png", [](const httplib::Request &, httplib::Response &r) {
            r.set_content(redSquarePng(), "image/png");
        });
        m_server.Get("/huge.png", [](const httplib::Request &, httplib::Response &r) {
            r.set_content(std::string(AvatarLoader::maximumBytes + 1024, 'x'), "image/png");
        });
        m_server.Get("/page.html", [](const httplib::Request &, httplib::Response &r) {
            r.set_content("<html></html>", "text/html");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::yield();
    }
    ~PictureHost()
    {
        m_server.stop();
        m_thread.join();
    }
    QUrl url(const char *path) const { return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path)); }

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
};

} // namespace

TEST(AvatarLoader, FetchesAPictureAndKeepsTheInitialForEverythingElse)
{
    quorral::test::application();
    PictureHost host;
    AvatarLoader loader;
    QSignalSpy loaded(&loader, &AvatarLoader::loaded);
    QSignalSpy cleared(&loader, &AvatarLoader::cleared);

    loader.load(host.url("/me.png"));
    ASSERT_TRUE(waitUntil([&] { return loaded.count() == 1; }));
    const QImage avatar = circularAvatar(loaded.at(0).at(0).value<QImage>(), 40);
    EXPECT_EQ(avatar.size(), QSize(40, 40));
    EXPECT_EQ(qAlpha(avatar.pixel(0, 0)), 0);                 // outside the circle
    EXPECT_EQ(avatar.pixelColor(20, 20), QColor(Qt::red));   // inside it
    loader.load(host.url("/me.png"));                        // the same address is not fetched again
    QCoreApplication::processEvents();
    EXPECT_EQ(loaded.count(), 1);

    const QUrl refused[] = {host.url("/missing.png"), host.url("/huge.png"), host.url("/page.html"),
                            QUrl(QStringLiteral("file:///etc/hostname")), QUrl()};
    int expected = 0;
    for (const auto &url : refused) {
        loader.load(url);
        ++expected;
        EXPECT_TRUE(waitUntil([&] { return cleared.count() == expected; })) << url.toString().toStdString();
    }
    EXPECT_EQ(loaded.count(), 1);
}
