#include "scan/ScanTracker.h"

#include "io/ReadFile.h"

#include <utility>
#include <nlohmann/json.hpp>

namespace quorral::scan {
namespace {

template <typename T>
bool holdsExpected(const nlohmann::json &value)
{
    if constexpr (std::is_floating_point_v<T>)
        return value.is_number();
    else
        return value.is_number_integer();
}

// A stored dictionary of the expected value type, or an empty map for anything else.
template <typename T>
std::unordered_map<std::string, T> loadMap(const settings::DefaultsStore &store, const char *key)
{
    std::unordered_map<std::string, T> map;
    const auto stored = store.value(key);
    if (!stored || !stored->is_object())
        return map;
    for (const auto &[path, value] : stored->items()) {
        if (!holdsExpected<T>(value))
            return {};
        map.emplace(path, value.template get<T>());
    }
    return map;
}

template <typename T>
nlohmann::json toJson(const std::unordered_map<std::string, T> &map)
{
    nlohmann::json object = nlohmann::json::object();
    for (const auto &[path, value] : map)
        object[path] = value;
    return object;
}

} // namespace

ScanTracker::ScanTracker(settings::DefaultsStore &store) : m_store(store) {}

ScanTracker::PathMap<double> &ScanTracker::mtimes()
{
    if (!m_mtimeCache)
        m_mtimeCache = loadMap<double>(m_store, mtimesKey);
    return *m_mtimeCache;
}

ScanTracker::PathMap<std::int64_t> &ScanTracker::counts()
{
    if (!m_countCache)
        m_countCache = loadMap<std::int64_t>(m_store, countsKey);
    return *m_countCache;
}

ScanTracker::PathMap<std::int64_t> &ScanTracker::sizes()
{
    if (!m_sizeCache)
        m_sizeCache = loadMap<std::int64_t>(m_store, sizesKey);
    return *m_sizeCache;
}

bool ScanTracker::claimIfNeeded(const std::string &path)
{
    {
        std::lock_guard lock(m_queue);
        if (m_onlyPath && *m_onlyPath != path)
            return false;
    }
    const auto modified = io::modificationTime(path);
    if (!modified)
        return true;
    std::lock_guard lock(m_queue);
    // Test and claim are one step, so of two concurrent claimers only one wins.
    if (m_inFlight.contains(path))
        return false;
    auto &map = mtimes();
    if (auto it = map.find(path); it != map.end() && *modified <= it->second)
        return false;
    m_inFlight[path] = Claim{*modified, std::nullopt, std::nullopt, true};
    return true;
}

void ScanTracker::stageFileState(const std::string &path, std::int64_t messageCount, std::uint64_t nextOffset,
                                 bool recordTime)
{
    std::lock_guard lock(m_queue);
    auto &claim = m_inFlight[path];
    claim.messageCount = messageCount;
    claim.nextOffset = nextOffset;
    claim.recordTime = recordTime;
}

void ScanTracker::commitLocked(const std::string &path)
{
    const auto it = m_inFlight.find(path);
    if (it == m_inFlight.end())
        return;
    const Claim &claim = it->second;
    if (claim.modified && claim.recordTime)
        mtimes()[path] = *claim.modified;
    if (claim.messageCount)
        counts()[path] = *claim.messageCount;
    if (claim.nextOffset)
        sizes()[path] = static_cast<std::int64_t>(*claim.nextOffset);
    m_inFlight.erase(it);
}

void ScanTracker::commit(const std::string &path)
{
    std::lock_guard lock(m_queue);
    commitLocked(path);
}

void ScanTracker::release(const std::string &path)
{
    std::lock_guard lock(m_queue);
    m_inFlight.erase(path);
}

void ScanTracker::settle(const std::vector<std::string> &done, const std::vector<std::string> &retry)
{
    {
        std::lock_guard lock(m_queue);
        for (const auto &path : done)
            commitLocked(path);
        for (const auto &path : retry)
            m_inFlight.erase(path);
    }
    persistCache();
}

bool ScanTracker::isInFlight(const std::string &path)
{
    std::lock_guard lock(m_queue);
    return m_inFlight.contains(path);
}

std::size_t ScanTracker::pruneMissing()
{
    std::vector<std::string> paths;
    {
        std::lock_guard lock(m_queue);
        paths.reserve(mtimes().size() + sizes().size());
        for (const auto &[path, _] : mtimes())
            paths.push_back(path);
        for (const auto &[path, _] : sizes())
            if (!mtimes().contains(path))
                paths.push_back(path);
    }
    // The file system is asked outside the lock.
    std::erase_if(paths, [](const std::string &path) { return io::modificationTime(path).has_value(); });
    if (paths.empty())
        return 0;
    {
        std::lock_guard lock(m_queue);
        for (const auto &path : paths) {
            mtimes().erase(path);
            counts().erase(path);
            sizes().erase(path);
        }
    }
    persistCache();
    return paths.size();
}

void ScanTracker::noteSkipped(SkippedFile file)
{
    std::lock_guard lock(m_queue);
    m_skipped.push_back(std::move(file));
}

std::vector<SkippedFile> ScanTracker::takeSkipped()
{
    std::lock_guard lock(m_queue);
    return std::exchange(m_skipped, {});
}

void ScanTracker::noteExcluded(const std::string &toolId)
{
    std::lock_guard lock(m_queue);
    ++m_excluded[toolId];
}

std::unordered_map<std::string, std::int64_t> ScanTracker::takeExcludedCounts()
{
    std::lock_guard lock(m_queue);
    return std::exchange(m_excluded, {});
}

std::int64_t ScanTracker::lastMessageCount(const std::string &path)
{
    std::lock_guard lock(m_queue);
    const auto &map = counts();
    const auto it = map.find(path);
    return it == map.end() ? 0 : it->second;
}

std::uint64_t ScanTracker::lastFileSize(const std::string &path)
{
    std::lock_guard lock(m_queue);
    const auto &map = sizes();
    const auto it = map.find(path);
    return it == map.end() || it->second < 0 ? 0 : static_cast<std::uint64_t>(it->second);
}

void ScanTracker::persistCache()
{
    PathMap<double> mtimeSnapshot;
    PathMap<std::int64_t> countSnapshot;
    PathMap<std::int64_t> sizeSnapshot;
    {
        std::lock_guard lock(m_queue);
        mtimeSnapshot = mtimes();
        countSnapshot = counts();
        sizeSnapshot = sizes();
    }
    m_store.setValue(mtimesKey, toJson(mtimeSnapshot));
    m_store.setValue(countsKey, toJson(countSnapshot));
    m_store.setValue(sizesKey, toJson(sizeSnapshot));
}

void ScanTracker::resetAll()
{
    {
        std::lock_guard lock(m_queue);
        m_mtimeCache.emplace();
        m_countCache.emplace();
        m_sizeCache.emplace();
        m_inFlight.clear();
    }
    m_store.remove(mtimesKey);
    m_store.remove(countsKey);
    m_store.remove(sizesKey);
}

void ScanTracker::restrictClaimsTo(std::string path)
{
    std::lock_guard lock(m_queue);
    m_onlyPath = std::move(path);
}

} // namespace quorral::scan
