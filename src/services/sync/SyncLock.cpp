#include "sync/SyncLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace quorral::sync {

QString describe(const LockHolder &holder)
{
    QString text = QStringLiteral("process %1").arg(holder.pid);
    if (!holder.application.isEmpty())
        text += QStringLiteral(" (%1)").arg(holder.application);
    if (!holder.hostname.isEmpty())
        text += QStringLiteral(" on %1").arg(holder.hostname);
    return text;
}

namespace {

// The user's runtime directory. Without XDG_RUNTIME_DIR (a service, a container) a private
// folder in the temporary directory stands in, checked to be the user's own.
QString runtimeDirectory()
{
#ifdef __APPLE__
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#else
    if (const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"); !runtime.isEmpty() && QFileInfo(QString::fromLocal8Bit(runtime)).isDir())
        return QString::fromLocal8Bit(runtime);
    const QString fallback = QDir::tempPath() + QStringLiteral("/quorral-runtime-%1").arg(::getuid());
    const QByteArray native = QFile::encodeName(fallback);
    ::mkdir(native.constData(), 0700);
    struct stat st {};
    if (::lstat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 0077) == 0)
        return fallback;
    return {};
#endif
}

} // namespace

QString SyncLock::pathFor(const std::string &home)
{
    return runtimeFileFor(home, QStringLiteral("quorral-sync-"), QStringLiteral(".lock"));
}

QString SyncLock::runtimeFileFor(const std::string &home, const QString &prefix, const QString &suffix)
{
    // The runtime directory is per user and emptied at logout; the home's hash tells two
    // homes of one user (tests, containers) apart.
    QString directory = runtimeDirectory();
    if (directory.isEmpty())
        directory = QString::fromStdString(home) + QStringLiteral("/.quorral");
    const QString canonical = QFileInfo(QString::fromStdString(home)).absoluteFilePath();
    const QByteArray digest = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return directory + QLatin1Char('/') + prefix + QString::fromLatin1(digest) + suffix;
}

SyncLock::SyncLock(const std::string &home) : m_path(pathFor(home)), m_file(m_path)
{
    // Never stale by age: a daemon holds it for days. A holder that died is still
    // recognised by its process id, and its lock taken over.
    m_file.setStaleLockTime(0);
}

bool SyncLock::tryLock()
{
    if (m_file.isLocked())
        return true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    return m_file.tryLock(0);
}

void SyncLock::unlock()
{
    m_file.unlock();
}

std::optional<LockHolder> SyncLock::holder() const
{
    if (m_file.isLocked())
        return std::nullopt;
    LockHolder holder;
    if (!m_file.getLockInfo(&holder.pid, &holder.hostname, &holder.application))
        return std::nullopt;
    return holder;
}

} // namespace quorral::sync
