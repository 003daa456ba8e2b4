#include "io/AtomicWrite.h"

#include "io/FileDescriptor.h"

#include <cerrno>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <thread>
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

// Writes one buffer at a time on its own thread; the producer hands over a full buffer
// and gets the previous one back, emptied, once it has been written.
struct AtomicFileWriter::BackgroundWriter {
    std::mutex lock;
    std::condition_variable changed;
    std::string pending;
    bool busy = false;
    bool stopping = false;
    std::optional<WriteError> failure;
    std::jthread thread;

    BackgroundWriter(int fd, std::string path)
    {
        thread = std::jthread([this, fd, path = std::move(path)] {
            std::unique_lock guard(lock);
            for (;;) {
                changed.wait(guard, [this] { return busy || stopping; });
                if (!busy)
                    return;
                guard.unlock();
                auto result = failure ? std::nullopt : writeAll(fd, pending, path);
                guard.lock();
                if (result)
                    failure = std::move(result);
                pending.clear();
                busy = false;
                changed.notify_all();
            }
        });
    }
    ~BackgroundWriter()
    {
        {
            const std::lock_guard guard(lock);
            stopping = true;
        }
        changed.notify_all();
    }
    // Swaps `full` for the buffer written last (empty); waits while a write is running.
    void handOver(std::string &full)
    {
        std::unique_lock guard(lock);
        changed.wait(guard, [this] { return !busy; });
        pending.swap(full);
        busy = true;
        changed.notify_all();
    }
    std::optional<WriteError> drain()
    {
        std::unique_lock guard(lock);
        changed.wait(guard, [this] { return !busy; });
        return failure;
    }
};

AtomicFileWriter::AtomicFileWriter(std::string path, AtomicWriteOptions options)
    : m_target(options.followSymlink ? resolveLinks(path) : std::move(path))
{
    m_mode = static_cast<unsigned>(options.mode);
    if (struct stat st {}; options.keepExistingMode && ::stat(m_target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        m_mode = st.st_mode & 07777;
    m_temporary = m_target + options.temporarySuffix;
    m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0)
        m_failure = errorAt("create", m_temporary, errno);
    m_buffer.reserve(flushSize + (flushSize >> 2));
}

AtomicFileWriter::~AtomicFileWriter()
{
    m_background.reset(); // joins the thread before the descriptor goes
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_committed)
        ::unlink(m_temporary.c_str());
}

void AtomicFileWriter::append(std::string_view bytes)
{
    m_buffer.append(bytes);
    flushIfLarge();
}

void AtomicFileWriter::flush()
{
    if (m_failure || m_fd < 0) {
        m_buffer.clear();
        return;
    }
    if (!m_background)
        m_background = std::make_unique<BackgroundWriter>(m_fd, m_temporary);
    m_background->handOver(m_buffer);
    m_buffer.reserve(flushSize + (flushSize >> 2));
}

std::optional<WriteError> AtomicFileWriter::commit()
{
    if (m_background) {
        if (auto failure = m_background->drain(); failure && !m_failure)
            m_failure = std::move(failure);
        m_background.reset();
    }
    if (!m_failure && m_fd >= 0)
        m_failure = writeAll(m_fd, m_buffer, m_temporary);
    m_buffer.clear();
    if (!m_failure && ::fchmod(m_fd, static_cast<mode_t>(m_mode)) != 0)
        m_failure = errorAt("set permissions of", m_temporary, errno);
    if (m_fd >= 0 && ::close(m_fd) != 0 && !m_failure)
        m_failure = errorAt("write", m_temporary, errno);
    m_fd = -1;
    if (m_failure)
        return m_failure;
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0)
        return m_failure = errorAt("replace", m_target, errno);
    m_committed = true;
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
