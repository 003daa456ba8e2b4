#include "io/TextArena.h"

#include "io/Pages.h"

#include <algorithm>
#include <sys/mman.h>
#include <unistd.h>

namespace quorral::io {

std::shared_ptr<TextArena> TextArena::create(std::size_t capacity)
{
    capacity = roundUp(std::max<std::size_t>(capacity, 1), pageSize());
    void *base = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED)
        return nullptr;
#ifdef MADV_HUGEPAGE
    ::madvise(base, capacity, MADV_HUGEPAGE);
#endif
    return std::shared_ptr<TextArena>(new TextArena(static_cast<char *>(base), capacity));
}

TextArena::~TextArena()
{
    ::munmap(m_base, m_capacity);
}

char *TextArena::allocate(std::size_t bytes)
{
    if (bytes > m_capacity - m_used)
        return nullptr;
    char *at = m_base + m_used;
    m_used += bytes;
    return at;
}

void TextArena::giveBack(std::size_t bytes)
{
    m_used -= std::min(bytes, m_used);
}

} // namespace quorral::io
