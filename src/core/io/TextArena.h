#pragma once

#include <cstddef>
#include <memory>

namespace quorral::io {

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
