#include "io/TemporaryFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorral::io {

TemporaryFile::~TemporaryFile()
{
    m_fd = FileDescriptor();
    if (m_created)
        ::unlink(m_path.c_str());
}

std::optional<WriteError> TemporaryFile::create()
{
    // unlink() takes away a symbolic link itself, never the file it points to. Whatever
    // cannot be removed (a directory) makes the exclusive create below fail.
    ::unlink(m_path.c_str());
    m_fd = FileDescriptor(::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!m_fd)
        return WriteError{"create", m_path, errno};
    m_created = true;
    return std::nullopt;
}

std::optional<WriteError> TemporaryFile::write(std::string_view bytes) const
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(m_fd.get(), bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return WriteError{"write", m_path, errno};
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return std::nullopt;
}

std::optional<WriteError> TemporaryFile::moveOnto(const std::string &target, mode_t mode)
{
    if (!m_fd)
        return WriteError{"write", m_path, EBADF};
    if (::fchmod(m_fd.get(), mode) != 0)
        return WriteError{"set permissions of", m_path, errno};
    // close() is where a delayed write error (a full disk over NFS) shows up.
    if (::close(m_fd.get()) != 0) {
        const int error = errno;
        static_cast<void>(m_fd.release());
        return WriteError{"write", m_path, error};
    }
    static_cast<void>(m_fd.release());
    if (::rename(m_path.c_str(), target.c_str()) != 0)
        return WriteError{"replace", target, errno};
    m_created = false;
    return std::nullopt;
}

} // namespace quorral::io
