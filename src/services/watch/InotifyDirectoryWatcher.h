#pragma once

#include "watch/DirectoryWatcher.h"

#include <QSocketNotifier>

#include <map>
#include <memory>
#include <set>
#include <string>

namespace quorral::watch {

// inotify behind a socket notifier. The target directory itself reports entry changes
// and its own move or deletion; its subdirectories (those created later too) report
// file writes and creations, within the watch bound. A target that does not exist (yet,
// or any more) is waited for on its nearest existing parent, and watched again once it
// appears, which counts as a change.
class InotifyDirectoryWatcher final : public DirectoryWatcher {
    Q_OBJECT
public:
    explicit InotifyDirectoryWatcher(DirectoryWatcherOptions options, QObject *parent = nullptr);
    ~InotifyDirectoryWatcher() override;

    bool watch(const QString &path, int target) override;
    void stopAll() override;
    int watchCount() const override { return static_cast<int>(m_watches.size() + m_waiting.size()); }

private:
    struct Watch {
        int target = 0;
        bool isRoot = false;
        std::string path;
    };

    bool ensureOpen();
    bool addRoot(const std::string &directory, int target);
    // Watches the target, or else waits for it on the nearest parent that exists.
    enum class Resolved { watched, waiting, none };
    Resolved resolve(int target);
    void forgetWaiting(int target);
    void addSubtree(const std::string &directory, int target);
    bool addSubdirectory(const std::string &directory, int target);
    void readEvents();

    DirectoryWatcherOptions m_options;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::map<int, Watch> m_watches;
    std::map<int, std::string> m_targetPaths;
    // Parents watched for targets that do not exist: watch descriptor → path, targets.
    struct Waiting {
        std::string path;
        std::set<int> targets;
    };
    std::map<int, Waiting> m_waiting;
    std::set<int> m_limitReported; // targets whose fallback was already logged
};

} // namespace quorral::watch
