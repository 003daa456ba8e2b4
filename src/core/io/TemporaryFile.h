#pragma once

#include "io/FileDescriptor.h"
#include "io/WriteError.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace quorral::io {

// The temporary sibling a replacement is written to before it is renamed into place.
// Whatever stands at its path beforehand (a file left by a crashed run, or a symbolic
// link planted there) is removed and the file is created afresh with O_EXCL, so no
// write ever goes through an old name. The file is removed again on destruction unless
// it has been moved into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : m_path(std::move(path)) {}
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    // Absent on success; the file is then empty, open for writing and readable by the
    // owner only.
    std::optional<WriteError> create();

    const std::string &path() const { return m_path; }
    int fd() const { return m_fd.get(); }
    bool isOpen() const { return m_fd.isValid(); }

    std::optional<WriteError> write(std::string_view bytes) const;

    // Gives the file `mode`, closes it and renames it over `target`.
    std::optional<WriteError> moveOnto(const std::string &target, mode_t mode);

private:
    std::string m_path;
    FileDescriptor m_fd;
    bool m_created = false;
};

} // namespace quorral::io
