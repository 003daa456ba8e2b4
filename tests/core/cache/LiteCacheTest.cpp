#include "cache/LiteCache.h"
#include "cache/LoaderRuntime.h"
#include "loaders/Loaders.h"

#include "TempHome.h"
#include "io/ReadFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <sys/stat.h>

using namespace quorral::cache;
using namespace quorral::conversation;
using quorral::test::TempHome;

namespace {

ConversationLite sampleLite(std::string id, std::string path)
{
    return ConversationLite{std::move(id), ConversationSource::openclaw, Instant{786000000.123456789}, Instant{786000100.1},
                            "/w \"q\"", std::nullopt, "héllo…", 3, fileURLFromPath(path), "line\none\t\x01 \\ end"};
}

std::string session(const std::string &text)
{
    return R"({"type":"user","uuid":"u","timestamp":"2025-06-12T10:00:00Z","message":{"content":")" + text + "\"}}\n";
}

// Counts the parses of a loadLites run.
struct CountingParse {
    std::atomic<int> calls{0};
    ParseConversation function()
    {
        return [this](const std::string &path) {
            ++calls;
            return quorral::loaders::ClaudeCodeLoader::loadConversation(path);
        };
    }
};

} // namespace

TEST(LiteCache, RoundTripsTimesExactlyAndEncodesPaths)
{
    TempHome home;
    LiteCacheEntries entries;
    const std::string odd = home.path() + "/my logs/日本.jsonl";
    entries[odd] = {Instant{786000000.1 + 1e-7}, sampleLite("a", odd)};
    auto branched = sampleLite("b", "/b.jsonl");
    branched.gitBranch = "feature/x";
    branched.source = ConversationSource::doubao;
    entries["/b.jsonl"] = {Instant{-5.5}, branched};

    LiteCache cache(home / "caches/Quorral/lite-cache-v1.json");
    cache.save(entries);
    EXPECT_EQ(cache.load(), entries);
    const auto text = quorral::io::readWholeFile(cache.cacheFile()).value();
    EXPECT_NE(text.find("\"" + odd + "\":"), std::string::npos) << "the key is the plain path";
    EXPECT_NE(text.find("my%20logs/%E6%97%A5%E6%9C%AC.jsonl"), std::string::npos);
    EXPECT_EQ(text.find("gitBranch"), text.rfind("gitBranch")) << "an absent branch is left out";
}

TEST(LiteCache, LoadedTextsStayInTheFileUntilItIsReplaced)
{
    TempHome home;
    LiteCache cache(home / "lite-cache-v1.json");
    const LiteCacheEntries entries{{"/a.jsonl", {Instant{1}, sampleLite("a", "/a.jsonl")}}};
    cache.save(entries);
    const auto loaded = cache.load();
    ASSERT_EQ(loaded, entries);
    const auto &text = loaded.at("/a.jsonl").lite.searchableText;
    EXPECT_TRUE(text.isJsonEscaped()) << "kept as the file has it";
    EXPECT_EQ(text.str(), "line\none\t\x01 \\ end");

    // Saving over the file replaces it; what was loaded from the old one is unchanged.
    cache.save({{"/b.jsonl", {Instant{2}, sampleLite("b", "/b.jsonl")}}});
    EXPECT_EQ(text.str(), "line\none\t\x01 \\ end");
    EXPECT_EQ(cache.load().size(), 1u);
    cache.save(loaded); // written out again as kept
    EXPECT_EQ(cache.load(), entries);

    // Escapes written another way are decoded.
    const auto other = LiteCache::decode(
        R"({"version":2,"entries":{"/c":{"mtime":3,"lite":{"id":"c","source":"cursor","startAt":1,"endAt":2,"cwd":"",)"
        R"("preview":"","messageCount":1,"fileURL":"file:///c","searchableText":"a\/b \u00e9\n\b"}}}})");
    ASSERT_TRUE(other);
    const auto &decoded = other->at("/c").lite.searchableText;
    EXPECT_FALSE(decoded.isJsonEscaped());
    EXPECT_EQ(decoded, "a/b é\n\b");
}

TEST(LiteCache, CacheFileIsReadableByTheUserOnly)
{
    TempHome home;
    const auto path = home.write("caches/Quorral/lite-cache-v1.json", "{}");
    ::chmod(path.c_str(), 0644); // written by an older version
    LiteCache cache(path);
    cache.save({{"/a.jsonl", {Instant{1}, sampleLite("a", "/a.jsonl")}}});
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    LiteCache fresh(home / "new/lite-cache-v1.json");
    fresh.save({});
    ASSERT_EQ(::stat(fresh.cacheFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(LiteCache, AnyDefectDiscardsTheWholeCache)
{
    LiteCacheEntries entries{{"/a.jsonl", {Instant{1}, sampleLite("a", "/a.jsonl")}},
                             {"/b.jsonl", {Instant{2}, sampleLite("b", "/b.jsonl")}}};
    const std::string good = LiteCache::encode(entries);
    ASSERT_EQ(LiteCache::decode(good), entries);
    const std::string currentVersion = "\"version\":" + std::to_string(LiteCache::version);
    const auto replaced = [&](const std::string &from, const std::string &to) {
        std::string copy = good;
        copy.replace(copy.find(from), from.size(), to);
        return copy;
    };
    const std::string cases[] = {
        good.substr(0, good.size() / 2),                        // truncated
        replaced(currentVersion, "\"version\":1"),              // an older version
        replaced(currentVersion, "\"version\":\"2\""),         // wrong type
        replaced("\"source\":\"openclaw\"", "\"source\":\"x\""), // one unknown source
        replaced("\"messageCount\":3", "\"messageCount\":\"3\""),
        replaced("\"mtime\":", "\"mtimes\":"),                  // a missing key
        replaced(",\"preview\":\"héllo…\"", ""),
        good + "{}",
        "[]",
    };
    for (const auto &text : cases)
        EXPECT_EQ(LiteCache::decode(text), std::nullopt) << text.substr(0, 80);
    EXPECT_EQ(LiteCache::decode(R"({"version":2,"entries":{}})"), LiteCacheEntries{});
    TempHome home;
    EXPECT_TRUE(LiteCache(home / "missing.json").load().empty());
}

TEST(LoaderRuntime, ParsesOnlyWhatChanged)
{
    TempHome home;
    std::vector<std::string> paths;
    for (int i = 0; i < 6; ++i)
        paths.push_back(home.write("p/s" + std::to_string(i) + ".jsonl", session("text " + std::to_string(i))));
    paths.push_back(home.write("p/empty.jsonl", "{}\n"));
    paths.push_back(home.path() + "/p/missing.jsonl");

    CountingParse first;
    const auto cold = loadLites(paths, {}, first.function(), 2);
    EXPECT_EQ(first.calls, 7) << "the missing file has no modification time";
    EXPECT_EQ(cold.lites.size(), 6u);
    EXPECT_EQ(cold.next.size(), 6u) << "no entry for the log without a conversation";

    CountingParse second;
    const auto warm = loadLites(paths, cold.next, second.function(), 2);
    EXPECT_EQ(second.calls, 1) << "only the log that yields nothing is parsed again";
    EXPECT_EQ(warm.next, cold.next);
    std::set<std::string> coldTexts, warmTexts;
    for (const auto &lite : cold.lites)
        coldTexts.insert(lite.searchableText.str());
    for (const auto &lite : warm.lites)
        warmTexts.insert(lite.searchableText.str());
    EXPECT_EQ(warmTexts, coldTexts);

    quorral::test::setModificationTime(paths[2], 1000.5); // earlier, not later
    // A deleted log is no longer listed by the loader's enumeration.
    std::filesystem::remove(paths[4]);
    auto listed = paths;
    listed.erase(listed.begin() + 4);
    CountingParse third;
    const auto touched = loadLites(listed, warm.next, third.function(), 2);
    EXPECT_EQ(third.calls, 2);
    EXPECT_EQ(touched.next.size(), 5u);
    EXPECT_FALSE(touched.next.contains(paths[4]));
    EXPECT_EQ(touched.next.at(paths[2]).mtime, Instant::fromUnixSeconds(1000.5));
    EXPECT_EQ(touched.lites.size(), 5u);
}

TEST(LoaderRuntime, SameConversationIdInTwoFilesIsTwoEntries)
{
    TempHome home;
    const std::string line =
        R"({"type":"user","uuid":"u","sessionId":"same","timestamp":"2025-06-12T10:00:00Z","message":{"content":"x"}})";
    const std::vector<std::string> paths = {home.write("a/x.jsonl", line), home.write("b/x y.jsonl", line)};
    CountingParse parse;
    const auto result = loadLites(paths, {}, parse.function());
    EXPECT_EQ(result.next.size(), 2u);
    EXPECT_EQ(result.next.at(paths[1]).lite.fileURL, fileURLFromPath(paths[1]));
    EXPECT_EQ(result.lites[0].id, "same");
}

TEST(RoundTripDecimal, ShortestWithFraction)
{
    EXPECT_EQ(roundTripDecimal(1700000000), "1700000000.0");
    EXPECT_EQ(roundTripDecimal(1733820000.25), "1733820000.25");
    const double odd = 1733820000.123456789;
    EXPECT_EQ(std::stod(roundTripDecimal(odd)), odd);
}
