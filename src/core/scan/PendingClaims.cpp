#include "scan/PendingClaims.h"

#include <utility>

namespace quorral::scan {

PendingClaims::PendingClaims(ScanTracker &tracker, const std::vector<ScannedFile> &files) : m_tracker(&tracker)
{
    m_paths.reserve(files.size());
    for (const auto &file : files)
        m_paths.push_back(file.path);
}

PendingClaims::PendingClaims(PendingClaims &&other) noexcept
    : m_tracker(other.m_tracker), m_paths(std::exchange(other.m_paths, {}))
{
}

PendingClaims::~PendingClaims()
{
    // Releasing changes nothing stored: no need to persist.
    for (const auto &path : m_paths)
        m_tracker->release(path);
}

void PendingClaims::settle(const std::vector<bool> &done)
{
    std::vector<std::string> finished;
    std::vector<std::string> retry;
    for (std::size_t i = 0; i < m_paths.size(); ++i)
        (i < done.size() && done[i] ? finished : retry).push_back(std::move(m_paths[i]));
    m_paths.clear();
    m_tracker->settle(finished, retry);
}

void PendingClaims::commitAll()
{
    settle(std::vector<bool>(m_paths.size(), true));
}

} // namespace quorral::scan
