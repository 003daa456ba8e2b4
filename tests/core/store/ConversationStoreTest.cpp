#include "store/ConversationStore.h"

#include "TempHome.h"
#include "cache/LiteCache.h"
#include "io/ReadFile.h"
#include "text/JsonString.h"
#include "text/Unicode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

using namespace quorral::conversation;
using namespace quorral::store;
using quorral::test::TempHome;

namespace {

// Both queues are run by hand, so every interleaving can be replayed.
struct Queues {
    std::deque<ConversationStore::Task> background, owner;
    void runBackground()
    {
        while (!background.empty()) {
            auto task = std::move(background.front());
            background.pop_front();
            task();
        }
    }
    void runOwner()
    {
        while (!owner.empty()) {
            auto task = std::move(owner.front());
            owner.pop_front();
            task();
        }
    }
};

const Instant now = Instant::fromUnixSeconds(1796810400); // 2026-12-09 10:00 UTC

ConversationLite lite(std::string id, ConversationSource source, double hoursAgo, std::string text)
{
    ConversationLite summary;
    summary.id = std::move(id);
    summary.source = source;
    summary.startAt = Instant{now.secondsSince2001 - hoursAgo * 3600};
    summary.endAt = now;
    summary.fileURL = fileURLFromPath("/logs/" + summary.id + ".jsonl");
    summary.searchableText = std::move(text);
    return summary;
}

std::vector<std::string> ids(const std::vector<ConversationLite> &lites)
{
    std::vector<std::string> result;
    for (const auto &l : lites)
        result.push_back(l.id);
    return result;
}

struct StoreFixture : ::testing::Test {
    Queues queues;
    std::vector<std::string> detailLoads;
    ConversationStore store{ConversationStore::Dependencies{
        .postToOwner = [this](ConversationStore::Task task) { queues.owner.push_back(std::move(task)); },
        .runInBackground = [this](ConversationStore::Task task) { queues.background.push_back(std::move(task)); },
        .calendar = UserCalendar::fixedOffset(0, 2),
        .now = [] { return now; },
        .cacheFile = {},
        .loadDetail =
            [this](ConversationSource, const std::string &path) -> std::optional<Conversation> {
            detailLoads.push_back(path);
            if (path.find("gone") != std::string::npos)
                return std::nullopt;
            Conversation c;
            c.id = std::filesystem::path(path).stem().string();
            return c;
        },
    }};

    void SetUp() override
    {
        store.setAll({lite("a", ConversationSource::claudeCode, 1, "Fix the LOGIN bug"),
                      lite("b", ConversationSource::cursor, 30, "rename the Straße helper"),
                      lite("c", ConversationSource::openclaw, 24 * 40, "login page\nand more"),
                      lite("gone", ConversationSource::claudeCode, 2, "deleted since")});
    }
};

} // namespace

TEST(ConversationStoreDefaults, NewStore)
{
    ConversationStore::Dependencies dependencies;
    dependencies.postToOwner = [](ConversationStore::Task) {};
    ConversationStore store(std::move(dependencies));
    EXPECT_EQ(store.timeFilter(), TimeFilter::all);
    EXPECT_EQ(store.sourceFilter(), (std::set{ConversationSource::claudeCode, ConversationSource::cursor,
                                              ConversationSource::openclaw, ConversationSource::codex,
                                              ConversationSource::geminiCli}));
    EXPECT_TRUE(store.searchQuery().empty() && store.allConversations().empty() && store.filteredConversations().empty());
    EXPECT_FALSE(store.isLoading() || store.isLoadingDetail());
}

TEST_F(StoreFixture, FiltersAndSearch)
{
    EXPECT_EQ(ids(store.filteredConversations()), (std::vector<std::string>{"a", "b", "c", "gone"}));
    struct Case {
        std::string query;
        std::vector<std::string> ids;
    };
    const Case cases[] = {
        {"   \n", {"a", "b", "c", "gone"}},
        {"LOGIN", {"a", "c"}},
        {"  login bug ", {"a"}},
        {"login  bug", {}},
        {"STRASSE", {}},
        {"straße", {"b"}},
        {"STRAßE", {"b"}},
        {"page\nand", {"c"}},
    };
    for (const auto &c : cases) {
        store.setSearchQuery(c.query);
        EXPECT_EQ(ids(store.filteredConversations()), c.ids) << c.query;
    }
    store.setSearchQuery("");
    store.setTimeFilter(TimeFilter::today);
    EXPECT_EQ(ids(store.filteredConversations()), (std::vector<std::string>{"a", "gone"})) << "b started yesterday";
    store.setTimeFilter(TimeFilter::thisMonth);
    EXPECT_EQ(ids(store.filteredConversations()), (std::vector<std::string>{"a", "b", "gone"}));
    store.setSourceFilter({});
    EXPECT_TRUE(store.filteredConversations().empty());
    store.setSourceFilter({ConversationSource::vscodeCopilot});
    EXPECT_TRUE(store.filteredConversations().empty());
}

TEST(TextSearch, SameAsSearchingTheLowerCasedText)
{
    // Texts whose letters beyond ASCII change case take the character-by-character path;
    // each text is also searched in its JSON-escaped form, where escapes must not match
    // as the letters and digits they are written with.
    const std::string texts[] = {"plain ascii Text", "ΣΟΦΙΑ and Ünïcode", "Temperature 5 \u212A (Kelvin)",
                                 "İstanbul", "mixed: Äpfel, straße, ΣΊΣΥΦΟΣ", "Café CRÈME brûlée", "日本語のテキスト 👍🏽",
                                 "cut \xff\xfe bytes", "line\none \"quoted\"\tTab \\n \\\\u0001 \x01\x1f end",
                                 "Ü\nNote\\\"u0041\\", "path C:\\Users\\NU\\t\r\n", "a\nb\x01" "c\x1F\"d", "日本Über \"🚀 RÉsumé\""};
    const std::string queries[] = {"text", "σοφια", "ünï", "k (kel", "5 k", "i̇s", "istanbul", "äpfel, s", "σίσυφοσ",
                                   "テキスト", "👍🏽", "\xff", "x", "and ü", "zz", "crème br", "è", "ème", "ÄPFEL, STRASSE",
                                   "café c", "n", "none", "e\no", "\"", "\\", "\\n", "\\\\", "u0001", "001", "\x01",
                                   "\x1f e", "t", "\tt", "ü\nn", "\\\"u", "u0041", "\\u", "\\nu", "\r\n", "\\t", "b\\u", "01c", "1fd", "\\\"d", "nb", "本über", "本ÜBER \"🚀 ré", " \"🚀 résumé", "🚀"};
    for (const auto &text : texts) {
        const SharedText plain(text);
        const auto escapedText = std::make_shared<const std::string>(quorral::text::jsonEscaped(text));
        const auto escaped = SharedText::fromJsonEscaped(escapedText, *escapedText);
        ASSERT_EQ(escaped.str(), text);
        const std::string lowered = quorral::text::toLower(text);
        for (const auto &q : queries) {
            const auto compiled = SearchQueries::of(quorral::text::toLower(q));
            const bool expected = lowered.find(compiled.plain.lowered) != std::string::npos;
            EXPECT_EQ(SearchKey::of(plain).matches(plain, compiled), expected) << text << " / " << q;
            EXPECT_EQ(SearchKey::of(escaped).matches(escaped, compiled), expected) << "escaped: " << text << " / " << q;
        }
    }
}

TEST_F(StoreFixture, LargeTextsAreSearchedInParallelWithTheSameResult)
{
    std::vector<ConversationLite> many;
    for (int i = 0; i < 40; ++i)
        many.push_back(lite("n" + std::to_string(i), ConversationSource::claudeCode, i,
                            std::string(400000, 'x') + (i % 3 == 0 ? "Needle" : "nothing")));
    store.setAll(many);
    store.setSearchQuery("needle");
    const auto found = ids(store.filteredConversations());
    EXPECT_EQ(found.size(), 14u);
    EXPECT_TRUE(std::is_sorted(found.begin(), found.end(), [](const std::string &a, const std::string &b) {
        return std::stoi(a.substr(1)) < std::stoi(b.substr(1));
    })) << "results keep the list's order";
}

TEST_F(StoreFixture, EveryCompletionOrderOfTwoDetailLoadsShowsTheLastSelection)
{
    for (const bool firstFinishesFirst : {true, false}) {
        store.setSelectedConversationId(std::nullopt);
        store.setSelectedConversationId("a");
        store.setSelectedConversationId("b");
        EXPECT_TRUE(store.isLoadingDetail());
        queues.runBackground(); // both loads done, their results queued in order a, b
        ASSERT_EQ(queues.owner.size(), 2u);
        if (!firstFinishesFirst)
            std::swap(queues.owner[0], queues.owner[1]);
        queues.runOwner();
        ASSERT_TRUE(store.selectedDetail());
        EXPECT_EQ(store.selectedDetail()->id, "b") << firstFinishesFirst;
        EXPECT_FALSE(store.isLoadingDetail());
    }
}

TEST_F(StoreFixture, SelectionEdgeCases)
{
    store.setSelectedConversationId("a");
    queues.runBackground();
    queues.runOwner();
    ASSERT_EQ(store.selectedDetail()->id, "a");
    const auto loads = detailLoads.size();
    store.setSelectedConversationId("a");
    EXPECT_TRUE(queues.background.empty()) << "the shown conversation is not loaded again";
    EXPECT_EQ(detailLoads.size(), loads);

    store.setSelectedConversationId("c");
    EXPECT_EQ(store.selectedDetail()->id, "a") << "the old detail stays until the new one arrives";
    store.setSelectedConversationId(std::nullopt); // cleared while loading
    queues.runBackground();
    queues.runOwner();
    EXPECT_FALSE(store.selectedDetail());
    EXPECT_FALSE(store.isLoadingDetail());

    store.setSelectedConversationId("gone");
    queues.runBackground();
    queues.runOwner();
    EXPECT_FALSE(store.selectedDetail());
    EXPECT_FALSE(store.isLoadingDetail());

    store.setSelectedConversationId("b");
    store.setSelectedConversationId("unknown"); // no summary: the running load may not install
    queues.runBackground();
    queues.runOwner();
    EXPECT_FALSE(store.selectedDetail());
    EXPECT_FALSE(store.isLoadingDetail());
}

TEST(ConversationStoreLoad, LoadsThreeToolsThroughTheCache)
{
    TempHome home;
    home.write(".claude/projects/p/s.jsonl",
               R"({"type":"user","uuid":"u","sessionId":"claude-1","timestamp":"2025-06-12T10:00:00Z","message":{"content":"from claude"}})");
    home.write(".openclaw/agents/a/sessions/o.jsonl",
               R"({"type":"message","id":"m","timestamp":"2025-06-13T10:00:00Z","message":{"role":"user","content":"from openclaw"}})");
    home.write(".cursor/projects/x/agent-transcripts/c.jsonl", R"({"role":"user","message":{"content":"from cursor"}})");
    quorral::test::setModificationTime(home / ".cursor/projects/x/agent-transcripts/c.jsonl", 1700000000);
    Queues queues;
    std::vector<ConversationStore::Property> changes;
    ConversationStore::Dependencies dependencies;
    dependencies.postToOwner = [&](ConversationStore::Task task) { queues.owner.push_back(std::move(task)); };
    dependencies.runInBackground = [&](ConversationStore::Task task) { queues.background.push_back(std::move(task)); };
    dependencies.cacheFile = home / "cache/Quorral/lite-cache-v1.json";
    ConversationStore store(std::move(dependencies));
    store.setObserver([&](ConversationStore::Property property) { changes.push_back(property); });
    store.loadAsync(home / ".claude/projects", home / ".cursor/projects", home / ".openclaw/agents");
    EXPECT_TRUE(store.isLoading());
    queues.runBackground();
    EXPECT_TRUE(store.allConversations().empty()) << "nothing changes off the owning thread";
    queues.runOwner();
    EXPECT_FALSE(store.isLoading());
    EXPECT_EQ(ids(store.allConversations()), (std::vector<std::string>{"o", "claude-1", "c"}));
    EXPECT_EQ(changes.front(), ConversationStore::Property::isLoading);
    EXPECT_EQ(changes.back(), ConversationStore::Property::isLoading);
    const auto cached = quorral::cache::LiteCache(home / "cache/Quorral/lite-cache-v1.json").load();
    EXPECT_EQ(cached.size(), 3u);
}
