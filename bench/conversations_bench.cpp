// The conversation library on a generated tree of about 1 GiB (about 2,000 Claude Code,
// Cursor and OpenClaw logs, some above 10 MiB):
//   conversations_bench [--home DIR] [--megabytes N] [--phase cold|warm]
// prints the cold summary load next to a bare two-thread simdjson pass over the same
// files, the cache save, the warm load (in a fresh process, with its peak memory), the
// search keystroke and the highlighter and segmenter throughput.
#include "cache/LiteCache.h"
#include "text/JsonString.h"
#include "highlight/SyntaxHighlighter.h"
#include "loaders/Loaders.h"
#include "LogGenerator.h"
#include "markdown/MarkdownSegmenter.h"
#include "store/ConversationStore.h"

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace quorral;

namespace {

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void writeFile(const fs::path &path, const std::string &content)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// Rewrites a Claude Code session into the Cursor and OpenClaw formats (same texts).
std::string asCursor(const std::string &claude)
{
    std::string out;
    std::istringstream lines(claude);
    for (std::string line; std::getline(lines, line);) {
        const auto record = nlohmann::json::parse(line, nullptr, false);
        if (!record.is_object() || !record.contains("message") || !record["message"].contains("content"))
            continue;
        out += nlohmann::json{{"role", record.value("type", "user")}, {"message", {{"content", record["message"]["content"]}}}}.dump() + "\n";
    }
    return out;
}

std::string asOpenClaw(const std::string &claude, int index)
{
    std::string out = nlohmann::json{{"type", "session"}, {"id", "oc-" + std::to_string(index)}, {"cwd", "/home/ann/agent"}}.dump() + "\n";
    std::istringstream lines(claude);
    for (std::string line; std::getline(lines, line);) {
        const auto record = nlohmann::json::parse(line, nullptr, false);
        if (!record.is_object() || !record.contains("message") || !record.contains("uuid"))
            continue;
        out += nlohmann::json{{"type", "message"},
                              {"id", record["uuid"]},
                              {"timestamp", record["timestamp"]},
                              {"message", {{"role", record.value("type", "user")}, {"content", record["message"]["content"]}}}}
                   .dump() + "\n";
    }
    return out;
}

void generate(const fs::path &home, std::uint64_t megabytes)
{
    loggen::LogGenerator generator(11);
    std::mt19937_64 random(5);
    const std::uint64_t target = megabytes << 20;
    std::uint64_t written = 0;
    int files = 0;
    const auto size = [&](bool large) -> std::uint64_t {
        return large ? (11u << 20) + random() % (13u << 20) : (32u << 10) + random() % (480u << 10);
    };
    // About 80 % Claude Code, 12 % Cursor, 8 % OpenClaw by bytes.
    while (written < target) {
        const double roll = std::uniform_real_distribution<>(0, 1)(random);
        const bool large = roll < 0.012;
        const std::string session = generator.claudeSession(size(large));
        std::string content;
        fs::path path;
        if (roll < 0.80) {
            content = session;
            path = home / ".claude/projects" / ("-home-ann-code-p" + std::to_string(files % 40)) / ("s" + std::to_string(files) + ".jsonl");
        } else if (roll < 0.92) {
            content = asCursor(session);
            path = home / ".cursor/projects" / ("slug" + std::to_string(files % 20)) / "agent-transcripts" /
                   ("t" + std::to_string(files)) / ("t" + std::to_string(files) + ".jsonl");
        } else {
            content = asOpenClaw(session, files);
            path = home / ".openclaw/agents" / ("agent" + std::to_string(files % 5)) / "sessions" / ("o" + std::to_string(files) + ".jsonl");
        }
        writeFile(path, content);
        written += content.size();
        ++files;
    }
    writeFile(home / ".generated", std::to_string(megabytes));
    std::printf("generated %d logs, %.0f MiB under %s\n", files, static_cast<double>(written) / (1 << 20), home.c_str());
}

struct Tree {
    std::vector<std::string> claude, cursor, openclaw;
    std::uint64_t bytes = 0;
    std::size_t large = 0;
};

Tree treeOf(const fs::path &home)
{
    Tree tree{loaders::ClaudeCodeLoader::enumerateJsonl(home / ".claude/projects"),
              loaders::CursorLoader::enumerateJsonl(home / ".cursor/projects"),
              loaders::OpenClawLoader::enumerateSessionJsonl(home / ".openclaw/agents")};
    for (const auto *list : {&tree.claude, &tree.cursor, &tree.openclaw})
        for (const auto &path : *list) {
            const auto size = fs::file_size(path);
            tree.bytes += size;
            tree.large += size > (10u << 20) ? 1 : 0;
        }
    return tree;
}

// The baseline: read, split lines, parse each, pull out the text, on two threads.
double barePass(const Tree &tree, std::uint64_t &textBytes)
{
    std::vector<std::string> all = tree.claude;
    all.insert(all.end(), tree.cursor.begin(), tree.cursor.end());
    all.insert(all.end(), tree.openclaw.begin(), tree.openclaw.end());
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> text{0};
    const auto work = [&] {
        simdjson::ondemand::parser parser;
        std::uint64_t local = 0;
        for (std::size_t i = next++; i < all.size(); i = next++) {
            simdjson::padded_string file;
            if (simdjson::padded_string::load(all[i]).get(file))
                continue;
            std::string_view rest(file.data(), file.size());
            while (!rest.empty()) {
                const auto feed = rest.find('\n');
                const auto line = rest.substr(0, feed);
                rest = feed == std::string_view::npos ? std::string_view() : rest.substr(feed + 1);
                if (line.empty() || line.front() != '{')
                    continue;
                simdjson::ondemand::document doc;
                if (parser.iterate(simdjson::padded_string_view(line.data(), line.size(), line.size() + rest.size() + 64)).get(doc))
                    continue;
                simdjson::ondemand::object message;
                if (doc["message"].get_object().get(message))
                    continue;
                simdjson::ondemand::value content;
                if (message["content"].get(content))
                    continue;
                std::string_view s;
                if (content.get_string().get(s) == simdjson::SUCCESS) {
                    local += s.size();
                    continue;
                }
                simdjson::ondemand::array blocks;
                if (content.get_array().get(blocks))
                    continue;
                // The texts a summary keeps: text, thinking, tool input and tool results.
                for (auto block : blocks) {
                    simdjson::ondemand::object object;
                    if (block.get_object().get(object))
                        continue;
                    for (auto field : object) {
                        std::string_view key, t;
                        if (field.unescaped_key().get(key))
                            break;
                        if (key == "text" || key == "thinking") {
                            if (field.value().get_string().get(t) == simdjson::SUCCESS)
                                local += t.size();
                        } else if (key == "input") {
                            simdjson::ondemand::object input;
                            if (field.value().get_object().get(input) == simdjson::SUCCESS && input.raw_json().get(t) == simdjson::SUCCESS)
                                local += t.size();
                        } else if (key == "content") {
                            if (field.value().get_string().get(t) == simdjson::SUCCESS) {
                                local += t.size();
                                continue;
                            }
                            simdjson::ondemand::array parts;
                            if (field.value().get_array().get(parts))
                                continue;
                            for (auto part : parts)
                                if (part["text"].get_string().get(t) == simdjson::SUCCESS)
                                    local += t.size();
                        }
                    }
                }
            }
        }
        text += local;
    };
    const auto start = Clock::now();
    std::thread helper(work);
    work();
    helper.join();
    textBytes = text;
    return seconds(start);
}

std::string selfPath() { return fs::read_symlink("/proc/self/exe").string(); }

long peakRssKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6));
    return -1;
}

// The size of a text without decoding it.
std::size_t textSize(const conversation::SharedText &text)
{
    const auto stored = text.stored();
    if (!text.isJsonEscaped())
        return stored.size();
    std::size_t size = 0;
    for (std::size_t i = 0; i < stored.size(); ++size)
        i += stored[i] != '\\' ? 1 : stored[i + 1] == 'u' ? 6 : 2;
    return size;
}

// `length` bytes of the text from about `at` in its stored form, decoded.
std::string pieceOf(const conversation::SharedText &text, std::size_t at, std::size_t length)
{
    const auto stored = text.stored();
    if (!text.isJsonEscaped())
        return std::string(stored.substr(at, length));
    std::size_t end = std::min(stored.size(), at + 8 * length);
    while (!text::startsEscapedCharacter(stored, at))
        ++at;
    while (end > at && !text::startsEscapedCharacter(stored, end))
        --end;
    return conversation::SharedText::fromJsonEscaped(nullptr, stored.substr(at, end - at)).str().substr(0, length);
}

int warmPhase(const fs::path &home, const std::string &cacheFile)
{
    // The warm load as the store runs it, first thing in this process: the cache read,
    // then the three tools' lookups (every file a hit, so nothing is parsed or saved).
    auto start = Clock::now();
    auto prior = cache::LiteCache(cacheFile).load();
    const double cacheRead = seconds(start);
    const std::size_t cached = prior.size();
    auto claude = std::async(std::launch::async, [&] { return loaders::ClaudeCodeLoader::loadAllLite(home / ".claude/projects", prior); });
    auto cursor = std::async(std::launch::async, [&] { return loaders::CursorLoader::loadAllLite(home / ".cursor/projects", prior); });
    auto openclaw = std::async(std::launch::async, [&] { return loaders::OpenClawLoader::loadAllLite(home / ".openclaw/agents", prior); });
    cache::LoadLitesResult results[] = {claude.get(), cursor.get(), openclaw.get()};
    std::vector<conversation::ConversationLite> lites;
    std::size_t parsed = 0;
    for (auto &result : results) {
        parsed += result.parsed;
        lites.insert(lites.end(), result.lites.begin(), result.lites.end());
    }
    std::stable_sort(lites.begin(), lites.end(), [](const auto &a, const auto &b) { return a.startAt > b.startAt; });
    const double warm = seconds(start);
    prior.clear();
    lites.clear();
    for (auto &result : results)
        result = {};
    // And once more through the store's own entry point (memory is warm by now).
    start = Clock::now();
    lites = store::loadAllSummaries(home / ".claude/projects", home / ".cursor/projects", home / ".openclaw/agents", cacheFile);
    const double again = seconds(start);
    std::uint64_t textBytes = 0;
    for (const auto &lite : lites)
        textBytes += textSize(lite.searchableText);

    store::ConversationStore::Dependencies deps;
    deps.postToOwner = [](store::ConversationStore::Task task) { task(); };
    store::ConversationStore conversations(std::move(deps));
    start = Clock::now();
    conversations.setAll(lites);
    const double install = seconds(start);
    lites.clear();

    // 100 queries of lengths 1 to 40: pieces of real texts, and a few that occur nowhere.
    std::mt19937 random(3);
    std::vector<std::string> queries;
    const auto &all = conversations.allConversations();
    while (queries.size() < 100) {
        const auto &text = all[random() % all.size()].searchableText;
        const std::size_t length = 1 + random() % 40;
        if (queries.size() % 10 == 9) {
            queries.push_back("zq" + std::to_string(random()) + "xj");
            continue;
        }
        if (text.stored().size() <= 8 * length)
            continue;
        auto piece = pieceOf(text, random() % (text.stored().size() - 8 * length), length);
        if (simdjson::validate_utf8(piece.data(), piece.size()) && piece.find('\n') == std::string::npos)
            queries.push_back(piece);
    }
    std::vector<double> times;
    std::size_t found = 0;
    for (const auto &query : queries) {
        start = Clock::now();
        conversations.setSearchQuery(query);
        times.push_back(seconds(start) * 1000);
        found += conversations.filteredConversations().size();
    }
    std::sort(times.begin(), times.end());
    std::printf("warm load (first in a fresh process): %.3f s wall for %zu summaries, %zu parsed; of it reading the %zu-entry cache %.3f s; "
                "a second warm load in the same process %.3f s; building the search keys in the store %.3f s\n",
                warm, all.size(), parsed, cached, cacheRead, again, install);
    std::printf("search keystroke over %zu summaries (%.0f MiB of searchable text): median %.1f ms, p90 %.1f ms, max %.1f ms (%.1f hits per query)\n",
                all.size(), static_cast<double>(textBytes) / (1 << 20), times[50], times[90], times.back(),
                static_cast<double>(found) / 100);
    const long peak = peakRssKiB();
    std::printf("summaries with non-ASCII letters that have case: %zu\n", conversations.textsWithNonAsciiCase());
    std::printf("warm store peak RSS %.0f MiB = %.2f x the searchable text\n", static_cast<double>(peak) / 1024,
                static_cast<double>(peak) * 1024 / static_cast<double>(textBytes));
    return 0;
}

void highlightPhase()
{
    loggen::LogGenerator generator(2);
    std::string code;
    const char *lines[] = {"func load(_ url: URL) async throws -> [String: Any] { // fetch the record\n",
                           "    let value = try await client.get(\"/v1/items?id=\\(id)\", timeout: 30)\n",
                           "    /* cache it for later */ cache[id] = value; return value.isEmpty ? [:] : value\n",
                           "    for (index, item) in items.enumerated() where item.isActive { print('x', index) }\n"};
    std::mt19937 random(1);
    while (code.size() < (16u << 20))
        code += lines[random() % 4];
    for (const char *language : {"swift", "js", "python"}) {
        const auto start = Clock::now();
        const auto tokens = highlight::SyntaxHighlighter::highlight(language, code);
        const double t = seconds(start);
        std::printf("highlight %-6s %.0f MiB of code: %.0f MB/s, %zu tokens\n", language, static_cast<double>(code.size()) / (1 << 20),
                    static_cast<double>(code.size()) / 1e6 / t, tokens.size());
    }
    std::string markdown;
    while (markdown.size() < (32u << 20))
        markdown += "Some prose about the change.\n\n```swift\n" + code.substr(random() % 4096, 2000) + "\n```\n\nMore text.\n";
    const auto start = Clock::now();
    const auto segments = markdown::MarkdownSegmenter::split(markdown);
    const double t = seconds(start);
    std::printf("segment %.0f MiB of Markdown: %.0f MB/s, %zu segments\n", static_cast<double>(markdown.size()) / (1 << 20),
                static_cast<double>(markdown.size()) / 1e6 / t, segments.size());
}

} // namespace

int main(int argc, char **argv)
{
    fs::path home = "/tmp/quorral-conversations-bench-home";
    std::uint64_t megabytes = 1024;
    std::string phase = "all";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--home" && i + 1 < argc)
            home = argv[++i];
        else if (arg == "--megabytes" && i + 1 < argc)
            megabytes = std::stoull(argv[++i]);
        else if (arg == "--phase" && i + 1 < argc)
            phase = argv[++i];
    }
    const std::string cacheFile = (home / "cache/Quorral/lite-cache-v1.json").string();
    if (phase == "warm")
        return warmPhase(home, cacheFile);

    if (!fs::exists(home / ".generated"))
        generate(home, megabytes);
    const Tree tree = treeOf(home);
    std::printf("tree: %zu Claude Code, %zu Cursor, %zu OpenClaw logs, %.0f MiB, %zu above 10 MiB\n", tree.claude.size(),
                tree.cursor.size(), tree.openclaw.size(), static_cast<double>(tree.bytes) / (1 << 20), tree.large);

    // Warm the page cache, so both passes read from memory.
    std::uint64_t baselineText = 0;
    barePass(tree, baselineText);
    const double bare = barePass(tree, baselineText);
    const double mbs = static_cast<double>(tree.bytes) / 1e6;
    std::printf("bare two-thread simdjson pass: %.2f s, %.0f MB/s (%.0f MiB of text pulled out)\n", bare, mbs / bare,
                static_cast<double>(baselineText) / (1 << 20));

    fs::remove(cacheFile);
    auto start = Clock::now();
    const cache::LiteCacheEntries none;
    auto claude = std::async(std::launch::async, [&] { return loaders::ClaudeCodeLoader::loadAllLite(home / ".claude/projects", none); });
    auto cursor = std::async(std::launch::async, [&] { return loaders::CursorLoader::loadAllLite(home / ".cursor/projects", none); });
    auto openclaw = std::async(std::launch::async, [&] { return loaders::OpenClawLoader::loadAllLite(home / ".openclaw/agents", none); });
    cache::LoadLitesResult results[] = {claude.get(), cursor.get(), openclaw.get()};
    const double cold = seconds(start);
    start = Clock::now();
    cache::LiteCacheEntries next;
    std::size_t summaries = 0;
    for (auto &result : results) {
        summaries += result.lites.size();
        next.merge(result.next);
    }
    cache::LiteCache(cacheFile).save(next);
    const double save = seconds(start);
    std::printf("cold summary load: %.2f s, %.0f MB/s = %.0f %% of the bare pass (%zu summaries); cache save %.2f s (%.0f MiB); cold load with save %.2f s\n",
                cold, mbs / cold, 100 * bare / cold, summaries, save,
                static_cast<double>(fs::file_size(cacheFile)) / (1 << 20), cold + save);

    if (phase == "cold")
        return 0;
    // The warm load in a fresh process, so that its peak memory is its own, as at a later
    // start of the program: this process's summaries freed and the new cache file written out.
    for (auto &result : results)
        result = {};
    next.clear();
    ::sync();
    const std::string self = selfPath();
    const std::string homeText = home.string();
    std::vector<char *> args = {const_cast<char *>(self.c_str()), const_cast<char *>("--phase"), const_cast<char *>("warm"),
                                const_cast<char *>("--home"), const_cast<char *>(homeText.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, args.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
    highlightPhase();
    return 0;
}
