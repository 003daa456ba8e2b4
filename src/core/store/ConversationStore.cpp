#include "store/ConversationStore.h"

#include "cache/LiteCache.h"
#include "loaders/Loaders.h"
#include "parallel/WeightedRuns.h"
#include "text/Unicode.h"

#include <algorithm>
#include <future>
#include <random>
#include <thread>

namespace quorral::store {

using namespace conversation;

namespace {

std::vector<SearchKey> searchKeysOf(const std::vector<ConversationLite> &lites)
{
    std::vector<SearchKey> keys(lites.size());
    parallel::forEachWeightedRun(
        lites.size(), 8u << 20, [&](std::size_t i) { return lites[i].searchableText.stored().size(); },
        [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i)
                keys[i] = SearchKey::of(lites[i].searchableText);
        });
    return keys;
}

void sortNewestFirst(std::vector<ConversationLite> &lites)
{
    std::stable_sort(lites.begin(), lites.end(),
                     [](const ConversationLite &a, const ConversationLite &b) { return a.startAt > b.startAt; });
}

} // namespace

std::string normalisedQuery(std::string_view query)
{
    return text::toLower(text::trimWhitespace(query));
}

std::vector<ConversationLite> loadAllSummaries(const std::string &claudeCodeDir, const std::string &cursorDir,
                                               const std::string &openclawDir, const std::string &cacheFile)
{
    return loadAllSummaries(LogRoots{claudeCodeDir, cursorDir, openclawDir, {}, {}}, cacheFile);
}

std::vector<ConversationLite> loadAllSummaries(const LogRoots &roots, const std::string &cacheFile)
{
    auto loaded = loadAllSummariesDeferringSave(roots, cacheFile);
    loaded.saveCache();
    return std::move(loaded.lites);
}

LoadedSummaries loadAllSummariesDeferringSave(const LogRoots &roots, const std::string &cacheFile)
{
    const cache::LiteCache liteCache(cacheFile);
    const auto prior = cacheFile.empty() ? cache::LiteCacheEntries{} : liteCache.load();
    // The tools load side by side, each with the same prior cache.
    const auto load = [&](const std::string &dir, cache::LoadLitesResult (*loadAllLite)(const std::string &,
                                                                                       const cache::LiteCacheEntries &)) {
        return std::async(std::launch::async, [&prior, dir, loadAllLite] {
            return dir.empty() ? cache::LoadLitesResult{} : loadAllLite(dir, prior);
        });
    };
    auto claude = load(roots.claudeCode, loaders::ClaudeCodeLoader::loadAllLite);
    auto cursor = load(roots.cursor, loaders::CursorLoader::loadAllLite);
    auto openclaw = load(roots.openclaw, loaders::OpenClawLoader::loadAllLite);
    auto codex = load(roots.codex, loaders::CodexLoader::loadAllLite);
    auto gemini = load(roots.geminiCli, loaders::GeminiCliLoader::loadAllLite);
    cache::LoadLitesResult results[] = {claude.get(), cursor.get(), openclaw.get(), codex.get(), gemini.get()};

    std::vector<ConversationLite> lites;
    cache::LiteCacheEntries next;
    std::size_t parsed = 0;
    for (auto &result : results) {
        parsed += result.parsed;
        lites.insert(lites.end(), std::make_move_iterator(result.lites.begin()),
                     std::make_move_iterator(result.lites.end()));
        for (auto &[path, entry] : result.next)
            next.insert_or_assign(path, std::move(entry));
    }
    sortNewestFirst(lites);
    // Nothing parsed and nothing dropped: the file already holds exactly these entries.
    LoadedSummaries loaded{std::move(lites), [] {}};
    if (!cacheFile.empty() && (parsed > 0 || next.size() != prior.size()))
        loaded.saveCache = [liteCache, next = std::move(next)] { liteCache.save(next); };
    return loaded;
}

ConversationStore::ConversationStore(Dependencies dependencies) : m_deps(std::move(dependencies))
{
    if (!m_deps.runInBackground)
        m_deps.runInBackground = [](Task task) { std::thread(std::move(task)).detach(); };
    if (!m_deps.loadDetail)
        m_deps.loadDetail = [](ConversationSource source, const std::string &path) {
            return loaders::loadConversationFor(source, path);
        };
}

ConversationStore::~ConversationStore()
{
    *m_alive = false; // results that arrive later are dropped
}

void ConversationStore::notify(Property property)
{
    if (m_observer)
        m_observer(property);
}

void ConversationStore::loadAsync(const std::string &claudeCodeDir, const std::string &cursorDir,
                                  const std::string &openclawDir)
{
    loadAsync(LogRoots{claudeCodeDir, cursorDir, openclawDir, {}, {}});
}

void ConversationStore::loadAsync(LogRoots roots)
{
    m_isLoading = true;
    notify(Property::isLoading);
    m_deps.runInBackground([this, alive = m_alive, roots = std::move(roots), cacheFile = m_deps.cacheFile,
                            post = m_deps.postToOwner] {
        auto lites = loadAllSummaries(roots, cacheFile);
        // The search keys are built here too, so the owning thread only swaps them in.
        auto keys = std::make_shared<std::vector<SearchKey>>(searchKeysOf(lites));
        auto shared = std::make_shared<std::vector<ConversationLite>>(std::move(lites));
        post([this, alive, shared, keys] {
            if (!*alive)
                return;
            install(std::move(*shared), std::move(*keys));
            m_isLoading = false;
            notify(Property::isLoading);
        });
    });
}

void ConversationStore::setAll(std::vector<ConversationLite> lites)
{
    auto keys = searchKeysOf(lites);
    install(std::move(lites), std::move(keys));
}

void ConversationStore::install(std::vector<ConversationLite> lites, std::vector<SearchKey> keys)
{
    m_all = std::move(lites);
    m_searchKeys = std::move(keys);
    notify(Property::allConversations);
    runFilter();
}

void ConversationStore::runFilter()
{
    const std::string lowered = normalisedQuery(m_searchQuery);
    const auto queries = SearchQueries::of(lowered);
    std::vector<std::size_t> candidates;
    candidates.reserve(m_all.size());
    for (std::size_t i = 0; i < m_all.size(); ++i) {
        const auto &lite = m_all[i];
        if (m_sourceFilter.contains(lite.source) && matches(m_timeFilter, lite.startAt, m_deps.now(), m_deps.calendar))
            candidates.push_back(i);
    }

    std::vector<char> found(candidates.size(), lowered.empty() ? 1 : 0);
    if (!lowered.empty()) {
        const auto searchRange = [&](std::size_t begin, std::size_t end) {
            for (std::size_t k = begin; k < end; ++k) {
                const std::size_t i = candidates[k];
                found[k] = m_searchKeys[i].matches(m_all[i].searchableText, queries) ? 1 : 0;
            }
        };
        // Large sets are searched on all cores.
        parallel::forEachWeightedRun(
            candidates.size(), 8u << 20, [&](std::size_t k) { return m_all[candidates[k]].searchableText.stored().size(); },
            searchRange);
    }

    std::vector<ConversationLite> filtered;
    for (std::size_t k = 0; k < candidates.size(); ++k)
        if (found[k])
            filtered.push_back(m_all[candidates[k]]);
    m_filtered = std::move(filtered);
    notify(Property::filteredConversations);
}

void ConversationStore::setTimeFilter(TimeFilter filter)
{
    m_timeFilter = filter;
    notify(Property::timeFilter);
    runFilter();
}

void ConversationStore::setSourceFilter(std::set<ConversationSource> sources)
{
    m_sourceFilter = std::move(sources);
    notify(Property::sourceFilter);
    runFilter();
}

void ConversationStore::setSearchQuery(std::string query)
{
    m_searchQuery = std::move(query);
    notify(Property::searchQuery);
    runFilter();
}

void ConversationStore::setSelectedConversationId(std::optional<std::string> id)
{
    m_selectedId = std::move(id);
    notify(Property::selectedConversationId);
    loadSelectedDetail();
}

void ConversationStore::loadSelectedDetail()
{
    const auto clear = [this] {
        m_detail.reset();
        notify(Property::selectedDetail);
        m_isLoadingDetail = false;
        notify(Property::isLoadingDetail);
        m_detailLoadToken.reset();
    };
    if (!m_selectedId)
        return clear();
    if (m_detail && m_detail->id == *m_selectedId)
        return; // already shown
    const auto summary = std::find_if(m_all.begin(), m_all.end(),
                                      [&](const ConversationLite &lite) { return lite.id == *m_selectedId; });
    if (summary == m_all.end())
        return clear(); // and no earlier load may install its result
    thread_local std::mt19937_64 random{std::random_device{}()};
    const Token token{random(), random()};
    m_detailLoadToken = token;
    m_isLoadingDetail = true;
    notify(Property::isLoadingDetail);

    const auto path = pathFromFileURL(summary->fileURL);
    m_deps.runInBackground([this, alive = m_alive, token, source = summary->source, path, load = m_deps.loadDetail,
                            post = m_deps.postToOwner] {
        auto detail = std::make_shared<std::optional<Conversation>>(path ? load(source, *path) : std::nullopt);
        post([this, alive, token, detail] {
            if (!*alive || m_detailLoadToken != token)
                return; // a newer selection owns the detail pane
            m_detail = std::move(*detail);
            notify(Property::selectedDetail);
            m_isLoadingDetail = false;
            notify(Property::isLoadingDetail);
        });
    });
}

} // namespace quorral::store
