#pragma once

#include <QByteArray>
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <string>

namespace quorral::app {

// One desktop application per user and home. The first to take the lock listens on a
// socket only its user may open; a later start hands its request there and exits. A lock
// left by a process that crashed is taken over.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role { primary, secondary, failed };

    explicit SingleInstance(const std::string &home, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock and listens, or else delivers `request` to the holder. `failed` when
    // neither works (`error()` says why).
    Role start(const QByteArray &request, std::chrono::milliseconds patience = std::chrono::seconds(3));
    const QString &error() const { return m_error; }
    const QString &lockPath() const { return m_lockPath; }
    const QString &socketPath() const { return m_socketPath; }

    // A request a later start may send.
    static inline const QByteArray showPanel = QByteArrayLiteral("show-panel");
    static inline const QByteArray quickInput = QByteArrayLiteral("quick-input");

Q_SIGNALS:
    void requestReceived(const QByteArray &request);

private:
    bool listen();
    bool deliver(const QByteArray &request, std::chrono::milliseconds patience);

    QString m_lockPath;
    QString m_socketPath;
    QLockFile m_lock;
    QLocalServer m_server;
    QString m_error;
};

} // namespace quorral::app
