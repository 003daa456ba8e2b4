#pragma once

#include "LocalServer.h"
#include "TempHome.h"
#include "api/APIClient.h"
#include "credentials/KeychainHelper.h"
#include "settings/MemoryDefaultsStore.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>

namespace quorral::test {

// A test home, the real local service and a client pointed at it.
class ServiceFixture : public testing::Test {
protected:
    ServiceFixture();

    std::unique_ptr<api::APIClient> makeClient(const QUrl &apiBase);
    std::unique_ptr<api::APIClient> makeClient() { return makeClient(QUrl(QString::fromStdString(server.origin() + "/api"))); }

    // Approves a pending login the way the page's button does; returns the HTTP status.
    int approve(const std::string &loginUrl);
    // Signs a new account in through the device flow and returns its key.
    std::string newAccountKey();

    static inline int argc = 1;
    static inline char name[] = "test";
    static inline char *argv[] = {name, nullptr};
    QCoreApplication app{argc, argv};
    TempHome home;
    LocalServer server{QUORRAL_SERVER_EXECUTABLE, home / "server.db"};
    settings::MemoryDefaultsStore defaults;
    credentials::NoLegacyKeychain legacy;
    credentials::KeychainHelper keychain{home.path(), legacy};
    api::LoginNotifier notifier;
};

} // namespace quorral::test
