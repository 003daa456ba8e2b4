#pragma once

#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

namespace quorral::parallel {

// Splits the items [0, count) into contiguous runs of about equal total weight, one per
// core when the total weight reaches `threshold` (else one run), and calls
// `work(begin, end)` for every run, the first on the calling thread. Returns when all
// runs are done. Contiguous runs keep each worker's memory accesses sequential.
template <typename Weight, typename Work>
void forEachWeightedRun(std::size_t count, std::size_t threshold, Weight weight, Work work)
{
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i)
        total += weight(i);
    const unsigned runs = total >= threshold ? std::clamp(std::thread::hardware_concurrency(), 1u, 8u) : 1u;
    std::vector<std::size_t> bounds{0};
    std::size_t running = 0;
    for (std::size_t i = 0; i < count && bounds.size() < runs; ++i) {
        running += weight(i);
        if (running >= total / runs * bounds.size())
            bounds.push_back(i + 1);
    }
    bounds.push_back(count);
    std::vector<std::jthread> helpers;
    for (std::size_t part = 1; part + 1 < bounds.size(); ++part)
        helpers.emplace_back(work, bounds[part], bounds[part + 1]);
    work(bounds[0], bounds[1]);
}

} // namespace quorral::parallel
