#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace quorral::io {

// A whole regular file mapped read-only, followed by at least `padding` zero bytes (a
// parser may read past the end), with its pages loaded up front. The mapping shows the
// file as it was opened as long as the file is only ever replaced by a rename.
class MappedFile {
public:
    static std::optional<MappedFile> open(const std::string &path, std::size_t padding);
    MappedFile(MappedFile &&other) noexcept;
    MappedFile &operator=(MappedFile &&) = delete;
    MappedFile(const MappedFile &) = delete;
    ~MappedFile();

    const char *data() const { return static_cast<const char *>(m_base); }
    std::size_t size() const { return m_size; }

private:
    MappedFile(void *base, std::size_t size, std::size_t mapped) : m_base(base), m_size(size), m_mapped(mapped) {}
    void *m_base = nullptr;
    std::size_t m_size = 0;
    std::size_t m_mapped = 0;
};

} // namespace quorral::io
