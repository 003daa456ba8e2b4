#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace quorral::watch {

struct DirectoryWatcherOptions {
    // Also report file writes and creations in the subdirectories below each target.
    bool watchSubtrees = true;
    // Kernel watches per process; past it a subtree is left to the periodic check.
    int maxWatches = 4096;
};

// The platform's directory-change notification: entries of a watched directory added,
// removed or moved, and the directory itself moved or deleted. Lives on one thread and
// reports there.
class DirectoryWatcher : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // False when the directory cannot be watched (unreadable, no watch left). A missing
    // directory is waited for and watched once it appears, which reports a change.
    virtual bool watch(const QString &path, int target) = 0;
    // Releases every watch and descriptor.
    virtual void stopAll() = 0;
    virtual int watchCount() const = 0;

Q_SIGNALS:
    void changed(int target);
    // Something was missed (an overflowing event queue): every target may have changed.
    void overflowed();
};

std::unique_ptr<DirectoryWatcher> makeDirectoryWatcher(DirectoryWatcherOptions options = {}, QObject *parent = nullptr);

} // namespace quorral::watch
