#pragma once

#include <QLockFile>
#include <QString>

#include <optional>
#include <string>

namespace quorral::sync {

// Who holds a lock, as its file tells.
struct LockHolder {
    qint64 pid = 0;
    QString hostname;
    QString application;
};
// "process 1234 (quorral) on host" — for messages.
QString describe(const LockHolder &holder);

// The one lock that makes a process the only one syncing a home: its tracker's stored
// maps are written by whoever holds it alone. A file in the user's runtime directory,
// named after the home; the lock of a process that died is taken over.
class SyncLock {
public:
    explicit SyncLock(const std::string &home);

    bool tryLock();
    void unlock();
    bool isLocked() const { return m_file.isLocked(); }
    // The process holding the lock, when another one does.
    std::optional<LockHolder> holder() const;
    const QString &path() const { return m_path; }

    static QString pathFor(const std::string &home);
    // A file of this user's for `home` in the runtime directory: prefix, a hash of the home, suffix.
    static QString runtimeFileFor(const std::string &home, const QString &prefix, const QString &suffix);

private:
    QString m_path;
    QLockFile m_file;
};

} // namespace quorral::sync
