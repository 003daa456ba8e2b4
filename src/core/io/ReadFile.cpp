#include "io/ReadFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorral::io {

std::optional<OpenedFile> openRegularFile(const std::string &path)
{
    // O_NONBLOCK keeps open() itself from waiting on a FIFO without a writer.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return OpenedFile{std::move(fd), static_cast<std::uint64_t>(st.st_size)};
}

std::optional<std::size_t> readInto(const OpenedFile &file, std::uint64_t offset, char *destination,
                                    std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(file.fd.get(), destination + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::optional<std::string> readAll(const OpenedFile &file)
{
    std::string content(static_cast<std::size_t>(file.size), '\0');
    const auto read = readInto(file, 0, content.data(), content.size());
    if (!read)
        return std::nullopt;
    content.resize(*read);
    return content;
}

std::optional<std::string> readWholeFile(const std::string &path)
{
    const auto file = openRegularFile(path);
    if (!file)
        return std::nullopt;
    return readAll(*file);
}

std::optional<FileTime> modificationFileTime(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
#ifdef __APPLE__
    const timespec ts = st.st_mtimespec;
#else
    const timespec ts = st.st_mtim;
#endif
    return FileTime{static_cast<std::int64_t>(ts.tv_sec), static_cast<std::int64_t>(ts.tv_nsec)};
}

std::optional<double> modificationTime(const std::string &path)
{
    const auto time = modificationFileTime(path);
    if (!time)
        return std::nullopt;
    return static_cast<double>(time->seconds) + static_cast<double>(time->nanoseconds) / 1e9;
}

bool exists(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace quorral::io
