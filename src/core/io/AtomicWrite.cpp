#include "io/AtomicWrite.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <thread>
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

// The permissions the new file gets: the old file's when they are to be kept.
unsigned modeFor(const std::string &target, const AtomicWriteOptions &options)
{
    if (struct stat st {}; options.keepExistingMode && ::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    return options.mode;
}

std::optional<WriteError> refuseReadOnly(const std::string &target)
{
    if (isReadOnly(target))
        return errorAt("replace read-only file", target, EACCES);
    return std::nullopt;
}

} // namespace

std::string WriteError::message() const
{
    return "cannot " + step + " " + path + ": " + std::strerror(error);
}

bool isReadOnly(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

std::optional<WriteError> writeFileAtomically(const std::string &path, std::string_view bytes,
                                              const AtomicWriteOptions &options)
{
    const std::string target = options.followSymlink ? resolveLinks(path) : path;
    if (auto refused = refuseReadOnly(target))
        return refused;
    TemporaryFile temporary(target + options.temporarySuffix);
    if (auto failure = temporary.create())
        return failure;
    if (auto failure = temporary.write(bytes))
        return failure;
    return temporary.moveOnto(target, static_cast<mode_t>(modeFor(target, options)));
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

    explicit BackgroundWriter(const TemporaryFile &file)
    {
        thread = std::jthread([this, &file] {
            std::unique_lock guard(lock);
            for (;;) {
                changed.wait(guard, [this] { return busy || stopping; });
                if (!busy)
                    return;
                guard.unlock();
                auto result = failure ? std::nullopt : file.write(pending);
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
    : m_target(options.followSymlink ? resolveLinks(path) : std::move(path)),
      m_temporary(m_target + options.temporarySuffix), m_mode(modeFor(m_target, options))
{
    m_failure = refuseReadOnly(m_target);
    if (!m_failure)
        m_failure = m_temporary.create();
    m_buffer.reserve(flushSize + (flushSize >> 2));
}

AtomicFileWriter::~AtomicFileWriter()
{
    m_background.reset(); // joins the thread before the temporary file is removed
}

void AtomicFileWriter::append(std::string_view bytes)
{
    m_buffer.append(bytes);
    flushIfLarge();
}

void AtomicFileWriter::flush()
{
    if (m_failure) {
        m_buffer.clear();
        return;
    }
    if (!m_background)
        m_background = std::make_unique<BackgroundWriter>(m_temporary);
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
    if (!m_failure)
        m_failure = m_temporary.write(m_buffer);
    m_buffer.clear();
    if (!m_failure)
        m_failure = m_temporary.moveOnto(m_target, static_cast<mode_t>(m_mode));
    return m_failure;
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
