#include "instance/SingleInstance.h"

#include "sync/SyncLock.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

namespace quorral::app {

SingleInstance::SingleInstance(const std::string &home, QObject *parent)
    : QObject(parent),
      m_lockPath(sync::SyncLock::runtimeFileFor(home, QStringLiteral("quorral-app-"), QStringLiteral(".lock"))),
      m_socketPath(sync::SyncLock::runtimeFileFor(home, QStringLiteral("quorral-app-"), QStringLiteral(".socket"))),
      m_lock(m_lockPath)
{
    // Never stale by age: the application runs for days. A dead holder is recognised by its pid.
    m_lock.setStaleLockTime(0);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *peer = m_server.nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                // One request per line; the sender waits for the line back, so it knows the
                // request arrived before it exits.
                while (peer->canReadLine()) {
                    const QByteArray request = peer->readLine().trimmed();
                    peer->write(request + '\n');
                    peer->flush();
                    Q_EMIT requestReceived(request);
                }
            });
        }
    });
}

SingleInstance::~SingleInstance()
{
    m_server.close();
    if (m_lock.isLocked())
        m_lock.unlock();
}

SingleInstance::Role SingleInstance::start(const QByteArray &request, std::chrono::milliseconds patience)
{
    QDir().mkpath(QFileInfo(m_lockPath).absolutePath());
    if (m_lock.tryLock(0)) {
        if (listen())
            return Role::primary;
        m_lock.unlock();
        return Role::failed;
    }
    if (m_lock.error() != QLockFile::LockFailedError) {
        m_error = QStringLiteral("cannot create the lock file %1").arg(m_lockPath);
        return Role::failed;
    }
    return deliver(request, patience) ? Role::secondary : Role::failed;
}

bool SingleInstance::listen()
{
    // Holding the lock, any socket file left here is a dead process's.
    QLocalServer::removeServer(m_socketPath);
    if (m_server.listen(m_socketPath))
        return true;
    m_error = QStringLiteral("cannot listen on %1: %2").arg(m_socketPath, m_server.errorString());
    return false;
}

bool SingleInstance::deliver(const QByteArray &request, std::chrono::milliseconds patience)
{
    // The holder may still be starting and not listening yet: try until `patience` runs out.
    const QDeadlineTimer deadline(patience);
    QString lastError;
    do {
        QLocalSocket socket;
        socket.connectToServer(m_socketPath);
        if (socket.waitForConnected(500)) {
            socket.write(request + '\n');
            socket.flush();
            while (!socket.canReadLine() && socket.waitForReadyRead(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 100))))
                ;
            if (socket.canReadLine())
                return true;
            lastError = QStringLiteral("it did not answer");
        } else {
            lastError = socket.errorString();
        }
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    m_error = QStringLiteral("another Quorral is running (lock %1) but cannot be reached at %2: %3")
                  .arg(m_lockPath, m_socketPath, lastError);
    return false;
}

} // namespace quorral::app
