#pragma once

#include "conversation/Model.h"
#include "conversation/TimeFilter.h"
#include "store/TextSearch.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quorral::store {

// The folders the loaders read; an empty one is skipped.
struct LogRoots {
    std::string claudeCode;
    std::string cursor;
    std::string openclaw;
    std::string codex;
    std::string geminiCli;
};

// The state behind the conversation browser: every summary, the filtered subset, the
// selected conversation and the loading flags. Its state belongs to one thread (the
// owner); background work hands its results back through `postToOwner`, and a detail
// result is installed only if its load is still the current one.
class ConversationStore {
public:
    using Task = std::function<void()>;

    enum class Property {
        allConversations,
        filteredConversations,
        selectedConversationId,
        selectedDetail,
        isLoadingDetail,
        timeFilter,
        sourceFilter,
        searchQuery,
        isLoading,
    };

    struct Dependencies {
        // Runs a task on the owning thread, later (a Qt queued call, or a test's queue).
        std::function<void(Task)> postToOwner;
        // Runs a task off the owning thread; a detached thread when not given.
        std::function<void(Task)> runInBackground;
        conversation::UserCalendar calendar = conversation::UserCalendar::systemLocal();
        std::function<conversation::Instant()> now = conversation::Instant::now;
        // The summary cache file; no cache when empty.
        std::string cacheFile;
        // The full load for the detail pane; the loaders of the three tools when not given.
        std::function<std::optional<conversation::Conversation>(conversation::ConversationSource, const std::string &path)>
            loadDetail;
    };

    explicit ConversationStore(Dependencies dependencies);
    ~ConversationStore();
    ConversationStore(const ConversationStore &) = delete;
    ConversationStore &operator=(const ConversationStore &) = delete;

    // Called on the owning thread after every assignment of a property.
    void setObserver(std::function<void(Property)> observer) { m_observer = std::move(observer); }

    const std::vector<conversation::ConversationLite> &allConversations() const { return m_all; }
    const std::vector<conversation::ConversationLite> &filteredConversations() const { return m_filtered; }
    const std::optional<std::string> &selectedConversationId() const { return m_selectedId; }
    const std::optional<conversation::Conversation> &selectedDetail() const { return m_detail; }
    bool isLoadingDetail() const { return m_isLoadingDetail; }
    conversation::TimeFilter timeFilter() const { return m_timeFilter; }
    const std::set<conversation::ConversationSource> &sourceFilter() const { return m_sourceFilter; }
    const std::string &searchQuery() const { return m_searchQuery; }
    bool isLoading() const { return m_isLoading; }
    // How many summaries hold characters beyond ASCII that change under lower-casing.
    std::size_t textsWithNonAsciiCase() const
    {
        return static_cast<std::size_t>(std::count_if(m_searchKeys.begin(), m_searchKeys.end(),
                                                      [](const SearchKey &key) { return key.lowerCaseChangesNonAscii; }));
    }

    // Loads every summary of the three tools in the background (through the cache) and
    // installs them newest first; returns at once.
    void loadAsync(const std::string &claudeCodeDir, const std::string &cursorDir, const std::string &openclawDir);
    void loadAsync(LogRoots roots);
    void setAll(std::vector<conversation::ConversationLite> lites);

    void setSelectedConversationId(std::optional<std::string> id);
    void setTimeFilter(conversation::TimeFilter filter);
    void setSourceFilter(std::set<conversation::ConversationSource> sources);
    void setSearchQuery(std::string query);

private:
    struct Loaded;
    void install(std::vector<conversation::ConversationLite> lites, std::vector<SearchKey> keys);
    void runFilter();
    void loadSelectedDetail();
    void notify(Property property);

    Dependencies m_deps;
    std::function<void(Property)> m_observer;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);

    std::vector<conversation::ConversationLite> m_all;
    std::vector<SearchKey> m_searchKeys; // one per summary of m_all
    std::vector<conversation::ConversationLite> m_filtered;
    std::optional<std::string> m_selectedId;
    std::optional<conversation::Conversation> m_detail;
    bool m_isLoadingDetail = false;
    conversation::TimeFilter m_timeFilter = conversation::TimeFilter::all;
    // Every source that has a loader.
    std::set<conversation::ConversationSource> m_sourceFilter = {
        conversation::ConversationSource::claudeCode, conversation::ConversationSource::cursor,
        conversation::ConversationSource::openclaw, conversation::ConversationSource::codex,
        conversation::ConversationSource::geminiCli};
    std::string m_searchQuery;
    bool m_isLoading = false;
    struct Token {
        std::uint64_t high = 0, low = 0;
        bool operator==(const Token &) const = default;
    };
    std::optional<Token> m_detailLoadToken;
};

// Every summary of the three tools, newest first, with the cache read and refreshed once:
// the background half of loadAsync, also used by the command line.
std::vector<conversation::ConversationLite> loadAllSummaries(const LogRoots &roots, const std::string &cacheFile);
std::vector<conversation::ConversationLite> loadAllSummaries(const std::string &claudeCodeDir,
                                                             const std::string &cursorDir,
                                                             const std::string &openclawDir,
                                                             const std::string &cacheFile);

struct LoadedSummaries {
    std::vector<conversation::ConversationLite> lites;
    // Writes the refreshed cache (nothing when it is unchanged). Apart, so that a caller
    // can show the list first: what it shows does not depend on the save.
    std::function<void()> saveCache;
};
LoadedSummaries loadAllSummariesDeferringSave(const LogRoots &roots, const std::string &cacheFile);

// The lower-cased, trimmed query and the filter itself, for callers without a store.
std::string normalisedQuery(std::string_view query);

} // namespace quorral::store
