#include "watch/InotifyDirectoryWatcher.h"

#include <QLoggingCategory>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorral::watch {
namespace {

Q_LOGGING_CATEGORY(lcWatch, "quorral.watch")

constexpr uint32_t rootMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR;
constexpr uint32_t subtreeMask = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;
// A parent waited on: something appearing in it, or it going away. Added to whatever mask
// the directory already has, since it may be watched for another target too.
constexpr uint32_t waitingMask = IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_MASK_ADD;

} // namespace

std::unique_ptr<DirectoryWatcher> makeDirectoryWatcher(DirectoryWatcherOptions options, QObject *parent)
{
    return std::make_unique<InotifyDirectoryWatcher>(options, parent);
}

InotifyDirectoryWatcher::InotifyDirectoryWatcher(DirectoryWatcherOptions options, QObject *parent)
    : DirectoryWatcher(parent), m_options(options)
{
}

InotifyDirectoryWatcher::~InotifyDirectoryWatcher()
{
    stopAll();
}

bool InotifyDirectoryWatcher::ensureOpen()
{
    if (m_fd >= 0)
        return true;
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        qCWarning(lcWatch) << "cannot start inotify:" << std::strerror(errno) << "- only the periodic check runs";
        return false;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &InotifyDirectoryWatcher::readEvents);
    return true;
}

bool InotifyDirectoryWatcher::watch(const QString &path, int target)
{
    if (!ensureOpen() || watchCount() >= m_options.maxWatches)
        return false;
    m_targetPaths[target] = path.toStdString();
    return resolve(target) != Resolved::none;
}

bool InotifyDirectoryWatcher::addRoot(const std::string &directory, int target)
{
    // The watch is added before the subtree is listed, so an entry created in between is not missed.
    const int wd = ::inotify_add_watch(m_fd, directory.c_str(), rootMask | IN_MASK_ADD);
    if (wd < 0)
        return false;
    m_watches[wd] = Watch{target, true, directory};
    if (m_options.watchSubtrees)
        addSubtree(directory, target);
    return true;
}

void InotifyDirectoryWatcher::forgetWaiting(int target)
{
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        it->second.targets.erase(target);
        if (it->second.targets.empty()) {
            // Still watched for a target of its own: keep that watch.
            if (!m_watches.contains(it->first))
                ::inotify_rm_watch(m_fd, it->first);
            it = m_waiting.erase(it);
        } else {
            ++it;
        }
    }
}

InotifyDirectoryWatcher::Resolved InotifyDirectoryWatcher::resolve(int target)
{
    forgetWaiting(target);
    const auto found = m_targetPaths.find(target);
    if (found == m_targetPaths.end())
        return Resolved::none;
    const std::filesystem::path wanted(found->second);
    // A parent may appear between the failed watch and the parent's: look again then.
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (addRoot(wanted.string(), target))
            return Resolved::watched;
        std::filesystem::path parent = wanted;
        std::filesystem::path below = wanted;
        int wd = -1;
        while (wd < 0 && parent.has_relative_path()) {
            below = parent;
            parent = parent.parent_path();
            wd = ::inotify_add_watch(m_fd, parent.c_str(), waitingMask);
        }
        if (wd < 0)
            return Resolved::none;
        auto &waiting = m_waiting[wd];
        waiting.path = parent.string();
        waiting.targets.insert(target);
        std::error_code error;
        if (!std::filesystem::exists(below, error))
            return Resolved::waiting;
        forgetWaiting(target);
    }
    return Resolved::none;
}

bool InotifyDirectoryWatcher::addSubdirectory(const std::string &directory, int target)
{
    if (watchCount() >= m_options.maxWatches) {
        if (m_limitReported.insert(target).second)
            qCWarning(lcWatch).noquote() << "watch limit of" << m_options.maxWatches << "reached below"
                                         << QString::fromStdString(directory)
                                         << "- changes deeper in it wait for the periodic check";
        return false;
    }
    const int wd = ::inotify_add_watch(m_fd, directory.c_str(), subtreeMask | IN_DONT_FOLLOW | IN_MASK_ADD);
    if (wd < 0) {
        if (m_limitReported.insert(target).second)
            qCWarning(lcWatch).noquote() << "cannot watch" << QString::fromStdString(directory) << ":" << std::strerror(errno)
                                         << "- changes there wait for the periodic check";
        return false;
    }
    if (!m_watches.contains(wd))
        m_watches[wd] = Watch{target, false, directory};
    return true;
}

void InotifyDirectoryWatcher::addSubtree(const std::string &directory, int target)
{
    // Iterative, links not followed: a link loop cannot trap the walk.
    std::vector<std::string> pending{directory};
    while (!pending.empty()) {
        const std::string current = std::move(pending.back());
        pending.pop_back();
        DIR *dir = ::opendir(current.c_str());
        if (dir == nullptr)
            continue;
        while (dirent *entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            const std::string child = current + "/" + entry->d_name;
            bool isDirectory = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat st {};
                isDirectory = ::lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            }
            if (!isDirectory)
                continue;
            if (!addSubdirectory(child, target)) {
                ::closedir(dir);
                return;
            }
            pending.push_back(child);
        }
        ::closedir(dir);
    }
}

void InotifyDirectoryWatcher::readEvents()
{
    alignas(inotify_event) char buffer[64 * 1024];
    std::set<int> changedTargets;
    bool overflow = false;
    while (true) {
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length <= 0)
            break;
        for (ssize_t offset = 0; offset < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                overflow = true;
                continue;
            }
            if (const auto waiting = m_waiting.find(event->wd); waiting != m_waiting.end()) {
                // Something appeared below a parent waited on, or the parent went: look again.
                const std::set<int> targets = waiting->second.targets;
                if (event->mask & IN_IGNORED)
                    m_waiting.erase(waiting);
                for (const int target : targets) {
                    if (resolve(target) == Resolved::watched)
                        changedTargets.insert(target);
                }
            }
            const auto it = m_watches.find(event->wd);
            if (it == m_watches.end())
                continue;
            const Watch watch = it->second;
            if (event->mask & IN_IGNORED) {
                m_watches.erase(it); // the directory is gone, or its watch was removed
                if (watch.isRoot) {
                    // The target itself went: wait for it to be made again.
                    resolve(watch.target);
                    changedTargets.insert(watch.target);
                }
                continue;
            }
            if (watch.isRoot && (event->mask & IN_MOVE_SELF)) {
                // The watch would follow the directory to its new name: drop it (IN_IGNORED follows).
                ::inotify_rm_watch(m_fd, event->wd);
            }
            changedTargets.insert(watch.target);
            const bool newDirectory = (event->mask & IN_ISDIR) && (event->mask & (IN_CREATE | IN_MOVED_TO)) && event->len > 0;
            if (newDirectory && m_options.watchSubtrees) {
                const std::string child = watch.path + "/" + event->name;
                if (addSubdirectory(child, watch.target))
                    addSubtree(child, watch.target);
            }
        }
    }
    if (overflow) {
        qCWarning(lcWatch) << "inotify queue overflowed: treating every watched tool as changed";
        Q_EMIT overflowed();
    }
    for (int target : changedTargets)
        Q_EMIT changed(target);
}

void InotifyDirectoryWatcher::stopAll()
{
    m_notifier.reset();
    if (m_fd >= 0) {
        ::close(m_fd); // closing the descriptor removes every watch
        m_fd = -1;
    }
    m_watches.clear();
    m_waiting.clear();
    m_targetPaths.clear();
}

} // namespace quorral::watch
