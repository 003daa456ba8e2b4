#pragma once

#include <QObject>

namespace quorral::api {

// The process-wide "Quorral.loginStateChanged" notification: posted from any thread,
// always delivered on the thread the notifier lives on (the main thread).
class LoginNotifier : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    static constexpr const char *name = "Quorral.loginStateChanged";

    void post();

Q_SIGNALS:
    void loginStateChanged();
};

} // namespace quorral::api
