#pragma once

#include <cstddef>
#include <unistd.h>

// Sizes of memory mappings, which come in whole pages.
namespace quorral::io {

inline std::size_t pageSize()
{
    static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

inline std::size_t roundUp(std::size_t value, std::size_t to) { return (value + to - 1) / to * to; }

} // namespace quorral::io
