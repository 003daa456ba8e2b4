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

// Anonymous memory for many texts written once and then only read: one mapping instead
// of a heap block per text, backed by huge pages where the kernel offers them (a cache of
// hundreds of megabytes otherwise costs a page fault per 4 KiB), returned whole when the
// last text goes.
class TextArena {
public:
    static std::shared_ptr<TextArena> create(std::size_t capacity);
    ~TextArena();
    TextArena(const TextArena &) = delete;
    TextArena &operator=(const TextArena &) = delete;

    char *allocate(std::size_t bytes); // null when the arena is full
    void giveBack(std::size_t bytes);  // the unused end of the last allocation
    std::size_t used() const { return m_used; }

private:
    TextArena(char *base, std::size_t capacity) : m_base(base), m_capacity(capacity) {}
    char *m_base;
    std::size_t m_capacity;
    std::size_t m_used = 0;
};

} // namespace quorral::io
