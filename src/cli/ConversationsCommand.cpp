#include "cli/ConversationsCommand.h"

#include "cache/LiteCache.h"
#include "cli/Usage.h"
#include "loaders/Loaders.h"
#include "platform/ToolLocations.h"
#include "store/ConversationStore.h"
#include "sync/SettingsCache.h"
#include "text/TerminalText.h"
#include "text/Unicode.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <ctime>
#include <iostream>
#include <sstream>

namespace quorral::cli {
namespace {

using namespace quorral::conversation;

std::vector<ConversationLite> loadSummaries(const std::string &home)
{
    const auto locations = platform::ToolLocations::forThisPlatform(home);
    return store::loadAllSummaries(store::LogRoots{locations.claudeDir + "/projects",
                                                   loaders::CursorLoader::defaultProjectsDir(home),
                                                   loaders::OpenClawLoader::defaultRootDir(home),
                                                   loaders::CodexLoader::defaultSessionsDir(home),
                                                   loaders::GeminiCliLoader::defaultTmpDir(home)},
                                   cache::LiteCache::defaultCacheFile(home));
}

std::chrono::system_clock::time_point toTimePoint(Instant at)
{
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(at.unixSeconds())));
}

std::string localTime(Instant at, const char *format)
{
    const auto t = static_cast<std::time_t>(std::floor(at.unixSeconds()));
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[64];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

std::string relativeStart(Instant at, Instant now)
{
    const double seconds = now.secondsSince2001 - at.secondsSince2001;
    if (seconds < 60)
        return "just now";
    if (seconds < 3600)
        return std::to_string(static_cast<long>(seconds / 60)) + " min ago";
    if (seconds < 86400)
        return std::to_string(static_cast<long>(seconds / 3600)) + " h ago";
    if (seconds < 2 * 86400)
        return "yesterday";
    if (seconds < 7 * 86400)
        return std::to_string(static_cast<long>(seconds / 86400)) + " days ago";
    return localTime(at, "%Y-%m-%d");
}

std::string formatDuration(double seconds)
{
    const auto total = static_cast<long>(std::max(0.0, seconds));
    if (total < 60)
        return std::to_string(total) + "s";
    if (total < 3600)
        return std::to_string(total / 60) + "m";
    return std::to_string(total / 3600) + "h" + (total % 3600 >= 60 ? std::to_string(total % 3600 / 60) + "m" : "");
}

// Pads with spaces to `width` terminal columns (East Asian wide characters count two).
std::string padded(const std::string &text, std::size_t width)
{
    std::size_t columns = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        columns += length >= 3 ? 2 : 1;
        i += length;
    }
    return columns >= width ? text : text + std::string(width - columns, ' ');
}

std::string firstLine(std::string_view text, std::size_t maxCharacters)
{
    const auto line = text.substr(0, text.find('\n'));
    const auto cut = text::graphemePrefixLength(line, maxCharacters);
    std::string result(line.substr(0, cut));
    if (cut < line.size() || line.size() < text.size())
        result += "…";
    return result;
}

std::string singleLine(std::string text)
{
    for (char &c : text)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    return text;
}

std::size_t lineCount(std::string_view text)
{
    return text.empty() ? 0 : static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
}

// One block as the terminal shows it: text in full, everything else collapsed to a line.
void printBlock(std::ostream &out, const ContentBlock &block)
{
    if (const auto *textBlock = std::get_if<TextBlock>(&block))
        out << textBlock->text << "\n";
    else if (const auto *codeBlock = std::get_if<CodeBlock>(&block))
        out << codeBlock->text << "\n";
    else if (const auto *toolUse = std::get_if<ToolUseBlock>(&block))
        out << "  ▸ tool " << toolUse->name << " " << firstLine(toolUse->input, 100) << "\n";
    else if (const auto *toolResult = std::get_if<ToolResultBlock>(&block))
        out << "  ▸ result (" << lineCount(toolResult->text) << " lines) " << firstLine(toolResult->text, 80) << "\n";
    else if (const auto *thinking = std::get_if<ThinkingBlock>(&block))
        out << "  ▸ thinking (" << text::graphemeCount(thinking->text) << " characters)\n";
    else if (const auto *image = std::get_if<ImageBlock>(&block))
        out << "  ▸ image " << image->mediaType << "\n";
}

void printTranscript(std::ostream &out, const Conversation &conversation)
{
    out << displayName(conversation.source) << " · " << (conversation.cwd.empty() ? "(no folder)" : conversation.cwd);
    if (conversation.gitBranch)
        out << " · " << *conversation.gitBranch;
    out << "\n" << localTime(conversation.startAt, "%Y-%m-%d %H:%M") << " – " << localTime(conversation.endAt, "%H:%M")
        << " · " << conversation.messageCount() << " messages · " << conversation.id << "\n";
    for (const auto &message : conversation.messages) {
        out << "\n[" << rawValue(message.role) << "] " << localTime(message.timestamp, "%Y-%m-%d %H:%M:%S") << "\n";
        for (const auto &block : message.blocks)
            printBlock(out, block);
    }
}

std::string fence(std::string_view body)
{
    // A fence longer than any run of backquotes inside the body.
    std::size_t longest = 0, run = 0;
    for (char c : body) {
        run = c == '`' ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return std::string(std::max<std::size_t>(3, longest + 1), '`');
}

void printMarkdown(std::ostream &out, const Conversation &conversation)
{
    out << "# " << conversation.preview() << "\n\n";
    out << "- Source: " << displayName(conversation.source) << "\n";
    if (!conversation.cwd.empty())
        out << "- Project: `" << conversation.cwd << "`\n";
    if (conversation.gitBranch)
        out << "- Branch: `" << *conversation.gitBranch << "`\n";
    out << "- Started: " << sync::internetDateTime(toTimePoint(conversation.startAt)) << "\n";
    out << "- Messages: " << conversation.messageCount() << "\n";
    for (const auto &message : conversation.messages) {
        out << "\n## " << (message.role == MessageRole::user ? "User" : "Assistant") << " — "
            << sync::internetDateTime(toTimePoint(message.timestamp)) << "\n\n";
        for (const auto &block : message.blocks) {
            if (const auto *textBlock = std::get_if<TextBlock>(&block)) {
                out << textBlock->text << "\n\n";
            } else if (const auto *codeBlock = std::get_if<CodeBlock>(&block)) {
                const auto f = fence(codeBlock->text);
                out << f << codeBlock->language << "\n" << codeBlock->text << "\n" << f << "\n\n";
            } else if (const auto *toolUse = std::get_if<ToolUseBlock>(&block)) {
                const auto f = fence(toolUse->input);
                out << "<details><summary>Tool: " << toolUse->name << "</summary>\n\n" << f << "json\n" << toolUse->input << "\n"
                    << f << "\n\n</details>\n\n";
            } else if (const auto *toolResult = std::get_if<ToolResultBlock>(&block)) {
                const auto f = fence(toolResult->text);
                out << "<details><summary>Tool result</summary>\n\n" << f << "\n" << toolResult->text << "\n" << f
                    << "\n\n</details>\n\n";
            } else if (const auto *thinking = std::get_if<ThinkingBlock>(&block)) {
                out << "<details><summary>Thinking</summary>\n\n" << thinking->text << "\n\n</details>\n\n";
            } else if (const auto *image = std::get_if<ImageBlock>(&block)) {
                out << "*[image: " << image->mediaType << "]*\n\n";
            }
        }
    }
}

int showConversation(const std::vector<std::string> &args, const std::string &home)
{
    std::optional<std::string> id;
    bool markdown = false;
    for (const auto &arg : args) {
        if (arg == "--markdown")
            markdown = true;
        else if (!id && !arg.starts_with("--"))
            id = arg;
        else
            return usageError("conversations show takes one ID and optionally --markdown");
    }
    if (!id)
        return usageError("conversations show needs the ID of a conversation (see `quorral conversations`)");
    const auto summaries = loadSummaries(home);
    // Subagent logs share their session's ID: the session itself is shown (the newest log
    // when several hold it), a log's path picks any.
    const auto matching = [&](const ConversationLite &l) {
        return l.id == *id || pathFromFileURL(l.fileURL) == *id;
    };
    auto summary = std::find_if(summaries.begin(), summaries.end(),
                                [&](const ConversationLite &l) { return matching(l) && !l.sidechain; });
    if (summary == summaries.end())
        summary = std::find_if(summaries.begin(), summaries.end(), matching);
    if (summary == summaries.end()) {
        std::cerr << "quorral: no conversation with the ID " << text::escapeForTerminal(*id) << "\n";
        return 1;
    }
    const auto sameKind = [&](const ConversationLite &l) { return matching(l) && l.sidechain == summary->sidechain; };
    if (const auto count = std::count_if(summaries.begin(), summaries.end(), sameKind); count > 1)
        std::cerr << "quorral: " << count << " logs hold the ID " << text::escapeForTerminal(*id)
                  << "; showing the newest (" << text::escapeForTerminal(pathFromFileURL(summary->fileURL).value_or(""))
                  << "). Pass a log's path to pick another.\n";
    const auto path = pathFromFileURL(summary->fileURL).value_or("");
    const auto conversation = loaders::loadConversationFor(summary->source, path);
    if (!conversation) {
        std::cerr << "quorral: cannot read the conversation from " << text::escapeForTerminal(path) << "\n";
        return 1;
    }
    // Everything shown comes from the log; it is escaped as a whole before it reaches the terminal.
    std::ostringstream rendered;
    if (markdown)
        printMarkdown(rendered, *conversation);
    else
        printTranscript(rendered, *conversation);
    std::cout << text::escapeForTerminal(rendered.view());
    std::cout.flush();
    return 0;
}

} // namespace

int runConversationsCommand(const std::vector<std::string> &args, const std::string &home)
{
    if (!args.empty() && args.front() == "show")
        return showConversation(std::vector<std::string>(args.begin() + 1, args.end()), home);

    std::set<ConversationSource> sources;
    TimeFilter timeFilter = TimeFilter::all;
    std::string search;
    bool json = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--json") {
            json = true;
        } else if (arg == "--source" && hasValue) {
            std::stringstream list(args[++i]);
            for (std::string raw; std::getline(list, raw, ',');) {
                const auto source = conversationSourceFromRaw(raw);
                if (!source)
                    return usageError("unknown source '" + raw + "' (claudeCode, cursor, openclaw, codex, geminiCli)");
                sources.insert(*source);
            }
        } else if (arg == "--time" && hasValue) {
            const auto filter = timeFilterFromRaw(args[++i]);
            if (!filter)
                return usageError("--time takes today, thisWeek, thisMonth or all");
            timeFilter = *filter;
        } else if (arg == "--search" && hasValue) {
            search = args[++i];
        } else {
            return usageError("conversations: unexpected '" + arg + "'");
        }
    }

    store::ConversationStore::Dependencies dependencies;
    dependencies.postToOwner = [](store::ConversationStore::Task task) { task(); };
    store::ConversationStore store(std::move(dependencies));
    store.setAll(loadSummaries(home));
    if (!sources.empty())
        store.setSourceFilter(sources);
    store.setTimeFilter(timeFilter);
    store.setSearchQuery(search);

    const auto &shown = store.filteredConversations();
    if (json) {
        auto list = nlohmann::json::array();
        for (const auto &lite : shown) {
            nlohmann::json item = {{"id", lite.id},
                                   {"source", rawValue(lite.source)},
                                   {"startAt", sync::internetDateTime(toTimePoint(lite.startAt))},
                                   {"endAt", sync::internetDateTime(toTimePoint(lite.endAt))},
                                   {"cwd", lite.cwd},
                                   {"preview", lite.preview},
                                   {"messageCount", lite.messageCount},
                                   {"durationSeconds", lite.duration()},
                                   {"file", pathFromFileURL(lite.fileURL).value_or(lite.fileURL)}};
            if (lite.gitBranch)
                item["gitBranch"] = *lite.gitBranch;
            if (lite.sidechain)
                item["sidechain"] = true;
            list.push_back(std::move(item));
        }
        // Escaping leaves the JSON valid: it only spells out DEL and the C1 controls.
        std::cout << text::escapeForTerminal(list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace))
                  << std::endl;
        return 0;
    }
    const auto now = Instant::now();
    for (const auto &lite : shown) {
        // The preview and the ID come from the log: escaped before they are padded, so the columns hold.
        std::cout << padded(std::string(displayName(lite.source)), 12) << " " << padded(relativeStart(lite.startAt, now), 11)
                  << " " << padded(std::to_string(lite.messageCount) + " msgs", 10) << " "
                  << padded(formatDuration(lite.duration()), 7) << " "
                  << padded((lite.sidechain ? "↳ subagent: " : "") + text::escapeForTerminal(singleLine(lite.preview)), 42)
                  << " " << text::escapeForTerminal(lite.id) << "\n";
    }
    std::cout << shown.size() << " of " << store.allConversations().size() << " conversations" << std::endl;
    return 0;
}

} // namespace quorral::cli
