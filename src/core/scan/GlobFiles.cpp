#include "scan/GlobFiles.h"


#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace quorral::scan {
namespace {

struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

DirHandle openDirectoryAt(int parentFd, const char *name, int extraFlags)
{
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags);
    if (fd < 0)
        return nullptr;
    DIR *dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return nullptr;
    }
    return DirHandle(dir);
}

bool isDirectoryEntry(DIR *parent, const dirent *entry)
{
    if (entry->d_type == DT_DIR)
        return true;
    if (entry->d_type != DT_UNKNOWN)
        return false;
    struct stat st {};
    return ::fstatat(::dirfd(parent), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

bool endsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void walk(DIR *dir, std::string &relative, const std::string &directory, std::string_view suffix,
          std::vector<std::string> &out)
{
    while (dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        const std::size_t mark = relative.size();
        if (!relative.empty())
            relative += '/';
        relative += name;
        if (endsWith(relative, suffix))
            out.push_back(directory + "/" + relative);
        if (isDirectoryEntry(dir, entry)) {
            // O_NOFOLLOW: a link to a directory is an entry, not a place to descend into.
            if (DirHandle child = openDirectoryAt(::dirfd(dir), name, O_NOFOLLOW))
                walk(child.get(), relative, directory, suffix, out);
        }
        relative.resize(mark);
    }
}

} // namespace

std::vector<std::string> globFiles(const std::string &directory, std::string_view suffix)
{
    std::vector<std::string> out;
    // The top folder itself may be reached through a link, as any path the caller names.
    DirHandle top = openDirectoryAt(AT_FDCWD, directory.c_str(), 0);
    if (!top)
        return out;
    std::string relative;
    walk(top.get(), relative, directory, suffix, out);
    return out;
}

} // namespace quorral::scan
