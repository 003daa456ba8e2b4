#pragma once

#include "io/FileDescriptor.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quorral::io {

// A regular file opened for reading, with the size measured right after opening.
// Anything else (a directory, a FIFO, a device) is refused, so that a scan never
// blocks on a special file that happens to carry a scanned name.
struct OpenedFile {
    FileDescriptor fd;
    std::uint64_t size = 0;
};
std::optional<OpenedFile> openRegularFile(const std::string &path);

// Reads up to `length` bytes at `offset` into `destination`; returns how many were read
// (fewer when the file shrank since it was measured), absent on a read error.
std::optional<std::size_t> readInto(const OpenedFile &file, std::uint64_t offset, char *destination,
                                    std::size_t length);

// All of an opened file (up to the size measured at opening), or absent on a read error.
std::optional<std::string> readAll(const OpenedFile &file);

// The whole content of a regular file, or absent when it cannot be read.
std::optional<std::string> readWholeFile(const std::string &path);

// Modification time as seconds and nanoseconds since 1970, absent when the attributes
// cannot be read; exact, for comparisons that must not round.
struct FileTime {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;
};
std::optional<FileTime> modificationFileTime(const std::string &path);

// Modification time in seconds since 1970, absent when the attributes cannot be read.
std::optional<double> modificationTime(const std::string &path);

bool exists(const std::string &path);

} // namespace quorral::io
