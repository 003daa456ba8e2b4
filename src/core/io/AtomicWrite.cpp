#include "io/AtomicWrite.h"

#include "io/FileDescriptor.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quorral::io {
namespace {

WriteError errorAt(std::string step, std::string path, int error)
{
    return WriteError{std::move(step), std::move(path), error};
}

// The file a symbolic link finally names; the path itself when it is none.
std::string resolveLinks(const std::string &path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    std::error_code ec;
    const auto target = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : target.string();
}

std::optional<WriteError> writeAll(int fd, std::string_view bytes, const std::string &path)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errorAt("write", path, errno);
        }
        done += static_cast<std::size_t>(n);
    }
    return std::nullopt;
}

} // namespace

std::string WriteError::message() const
{
    return "cannot " + step + " " + path + ": " + std::strerror(error);
}

std::optional<WriteError> writeFileAtomically(const std::string &path, std::string_view bytes,
                                              const AtomicWriteOptions &options)
{
    const std::string target = options.followSymlink ? resolveLinks(path) : path;
    mode_t mode = static_cast<mode_t>(options.mode);
    if (struct stat st {}; options.keepExistingMode && ::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        mode = st.st_mode & 07777;

    const std::string temporary = target + options.temporarySuffix;
    {
        FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!fd)
            return errorAt("create", temporary, errno);
        auto failure = writeAll(fd.get(), bytes, temporary);
        // A temporary file left by an earlier run may carry other permissions.
        if (!failure && ::fchmod(fd.get(), mode) != 0)
            failure = errorAt("set permissions of", temporary, errno);
        if (failure) {
            ::unlink(temporary.c_str());
            return failure;
        }
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return errorAt("replace", target, error);
    }
    return std::nullopt;
}

std::optional<WriteError> createDirectories(const std::string &directory)
{
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec)
        return errorAt("create", directory, ec.value());
    return std::nullopt;
}

std::string parentDirectory(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

} // namespace quorral::io
