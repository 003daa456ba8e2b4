#include "cache/LoaderRuntime.h"

#include "io/ReadFile.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace quorral::cache {

using conversation::ConversationLite;
using conversation::Instant;

std::optional<Instant> modificationInstant(const std::string &path)
{
    const auto time = io::modificationFileTime(path);
    if (!time)
        return std::nullopt;
    return Instant::fromUnixParts(time->seconds, time->nanoseconds);
}

LoadLitesResult loadLites(const std::vector<std::string> &paths, const LiteCacheEntries &priorCache,
                          const ParseConversation &parse, unsigned workers)
{
    return loadLites(
        paths, priorCache,
        SummariseLog([&parse](const std::string &path) -> std::optional<ConversationLite> {
            // The full conversation lives only inside this call.
            const auto conversation = parse(path);
            if (!conversation)
                return std::nullopt;
            return ConversationLite::from(*conversation, conversation::fileURLFromPath(path));
        }),
        workers);
}

LoadLitesResult loadLites(const std::vector<std::string> &paths, const LiteCacheEntries &priorCache,
                          const SummariseLog &summarise, unsigned workers)
{
    struct Stale {
        const std::string *path;
        Instant mtime;
    };
    LoadLitesResult result;
    std::vector<Stale> stale;
    for (const auto &path : paths) {
        const auto mtime = modificationInstant(path);
        if (!mtime)
            continue;
        if (const auto hit = priorCache.find(path); hit != priorCache.end() && hit->second.mtime == *mtime)
            result.lites.push_back(hit->second.lite);
        else
            stale.push_back({&path, *mtime});
    }

    std::mutex lock;
    std::vector<std::pair<std::string, LiteCacheEntry>> fresh;
    std::atomic<std::size_t> nextItem{0};
    const auto work = [&] {
        for (std::size_t i = nextItem++; i < stale.size(); i = nextItem++) {
            const auto &item = stale[i];
            auto lite = summarise(*item.path);
            if (!lite)
                continue;
            LiteCacheEntry entry{item.mtime, *lite};
            const std::lock_guard guard(lock);
            result.lites.push_back(std::move(*lite));
            fresh.emplace_back(*item.path, std::move(entry));
        }
    };
    if (workers == 0)
        workers = std::max(1u, std::thread::hardware_concurrency());
    workers = static_cast<unsigned>(std::min<std::size_t>(workers, stale.size()));
    std::vector<std::jthread> pool;
    for (unsigned i = 1; i < workers; ++i)
        pool.emplace_back(work);
    if (!stale.empty())
        work();
    pool.clear(); // joins

    for (const auto &path : paths)
        if (const auto old = priorCache.find(path); old != priorCache.end())
            result.next.insert_or_assign(path, old->second);
    result.parsed = fresh.size();
    for (auto &[path, entry] : fresh)
        result.next.insert_or_assign(std::move(path), std::move(entry));
    return result;
}

} // namespace quorral::cache
