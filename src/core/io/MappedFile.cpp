#include "io/MappedFile.h"

#include "io/FileDescriptor.h"
#include "io/Pages.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quorral::io {
namespace {

#ifdef MAP_POPULATE
constexpr int populate = MAP_POPULATE;
#else
constexpr int populate = 0;
#endif

} // namespace

std::optional<MappedFile> MappedFile::open(const std::string &path, std::size_t padding)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const auto size = static_cast<std::size_t>(st.st_size);
    const std::size_t mapped = roundUp(size + padding, pageSize());
    // Reserve the whole range as zero pages, then lay the file over its start; the rest
    // of the file's last page reads as zeros too.
    void *base = ::mmap(nullptr, mapped, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return std::nullopt;
    if (size > 0 &&
        ::mmap(base, size, PROT_READ, MAP_PRIVATE | MAP_FIXED | populate, fd.get(), 0) == MAP_FAILED) {
        ::munmap(base, mapped);
        return std::nullopt;
    }
    return MappedFile(base, size, mapped);
}

MappedFile::MappedFile(MappedFile &&other) noexcept
    : m_base(std::exchange(other.m_base, nullptr)), m_size(other.m_size), m_mapped(std::exchange(other.m_mapped, 0))
{
}

MappedFile::~MappedFile()
{
    if (m_base)
        ::munmap(m_base, m_mapped);
}

} // namespace quorral::io
