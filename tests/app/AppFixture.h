#pragma once

#include "LocalServer.h"
#include "TempHome.h"
#include "root/ServiceRoot.h"
#include "settings/MemoryDefaultsStore.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

namespace quorral::test {

// One widget application per test process (offscreen), made on first use.
inline QApplication &application()
{
    static int argc = 1;
    static char name[] = "app_test";
    static char *argv[] = {name, nullptr};
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}

// Runs the event loop until `done` holds or `timeout` passes; returns whether it held.
inline bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const QDeadlineTimer deadline(timeout);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A test home, the real local service and the services of one run pointed at it.
class AppFixture : public testing::Test {
protected:
    AppFixture()
    {
        application();
        api::Config config = api::Config::forOrigin(QUrl(QString::fromStdString(server.origin())));
        config.apiBaseURL = QUrl(QString::fromStdString(server.origin() + "/api"));
        services = std::make_unique<services::ServiceRoot>(home.path(), config,
                                                           std::make_unique<settings::MemoryDefaultsStore>());
    }

    TempHome home;
    LocalServer server{QUORRAL_SERVER_EXECUTABLE, home / "server.db"};
    std::unique_ptr<services::ServiceRoot> services;
};

} // namespace quorral::test
