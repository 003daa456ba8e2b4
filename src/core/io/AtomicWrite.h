#pragma once

#include "io/TemporaryFile.h"
#include "io/WriteError.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quorral::io {

struct AtomicWriteOptions {
    // The temporary sibling is the target path followed by this suffix.
    std::string temporarySuffix = ".tmp";
    // Permissions of a file that did not exist before.
    unsigned mode = 0644;
    // A replaced file keeps its permissions (the files of other tools); when false,
    // `mode` is applied whatever the old file had (the credentials).
    bool keepExistingMode = true;
    // A target that is a symbolic link is replaced at the file the link points to, so
    // a user's link into a dotfiles repository stays a link.
    bool followSymlink = true;
};

// Writes `bytes` to a temporary sibling and renames it over `path` in one step: a
// reader sees the old file or the new one, and a failure leaves the old file whole
// (the temporary file is removed). A read-only file is refused (see isReadOnly) and
// left exactly as it was. Absent on success.
std::optional<WriteError> writeFileAtomically(const std::string &path, std::string_view bytes,
                                              const AtomicWriteOptions &options = {});

// True when a regular file stands at `path` that must not be replaced: it has no write
// permission bit at all, or the caller may not write it. The mode bits are looked at on
// their own as well because the superuser passes every access check.
bool isReadOnly(const std::string &path);

// Creates `directory` and its missing parents with default permissions. Absent on
// success, including when it already exists.
std::optional<WriteError> createDirectories(const std::string &directory);

// The path without its last component ("/a/b/c" -> "/a/b", "c" -> ".").
std::string parentDirectory(const std::string &path);

} // namespace quorral::io

namespace quorral::io {

// Streams a file into a temporary sibling and renames it into place on commit(); a writer
// destroyed without a successful commit removes the temporary file and leaves the old
// file untouched. A read-only target is refused as by writeFileAtomically(). For files
// too large to assemble in memory first: full buffers are written by a thread of the
// writer's own while the caller fills the next one.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::string path, AtomicWriteOptions options = {});
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter &) = delete;
    AtomicFileWriter &operator=(const AtomicFileWriter &) = delete;

    void append(std::string_view bytes);
    std::string &buffer() { return m_buffer; } // append directly; flushed as it grows
    void flushIfLarge()
    {
        if (m_buffer.size() >= flushSize)
            flush();
    }
    std::optional<WriteError> commit();

private:
    static constexpr std::size_t flushSize = 1 << 20;
    struct BackgroundWriter;
    void flush();

    std::string m_target;
    TemporaryFile m_temporary;
    unsigned m_mode = 0644;
    std::string m_buffer;
    std::optional<WriteError> m_failure;
    // Declared last so that its thread is joined before the temporary file goes.
    std::unique_ptr<BackgroundWriter> m_background;
};

} // namespace quorral::io
