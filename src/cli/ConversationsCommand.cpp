#include "cli/ConversationsCommand.h"

#include "cache/LiteCache.h"
#include "cli/Usage.h"
#include "loaders/Loaders.h"
#include "platform/ToolLocations.h"
#include "store/ConversationStore.h"
#include "sync/SettingsCache.h"
#include "text/DisplayWidth.h"
#include "text/TerminalText.h"
#include "text/Unicode.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <chrono>
#include <cstring>
#include <cmath>
#include <ctime>
#include <iostream>
#include <sstream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace quorral::cli {
namespace {

using namespace quorral::conversation;

store::LogRoots logRoots(const std::string &home)
{
    const auto locations = platform::ToolLocations::forThisPlatform(home);
    return store::LogRoots{locations.claudeDir + "/projects", loaders::CursorLoader::defaultProjectsDir(home),
                           loaders::OpenClawLoader::defaultRootDir(home), loaders::CodexLoader::defaultSessionsDir(home),
                           loaders::GeminiCliLoader::defaultTmpDir(home)};
}

std::vector<ConversationLite> loadSummaries(const std::string &home)
{
    return store::loadAllSummaries(logRoots(home), cache::LiteCache::defaultCacheFile(home));
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

std::string firstLine(std::string_view text, std::size_t maxCharacters)
{
    const auto line = text.substr(0, text.find('\n'));
    const auto cut = text::graphemePrefixLength(line, maxCharacters);
    std::string result(line.substr(0, cut));
    if (cut < line.size() || line.size() < text.size())
        result += "…";
    return result;
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
            return usageError("conversations", "show takes one ID and optionally --markdown");
    }
    if (!id)
        return usageError("conversations", "show needs the ID of a conversation (see `quorral conversations`)");
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

// The tool ids of `quorral scan` name the same sources as the model's.
std::optional<ConversationSource> sourceFromArgument(std::string_view raw)
{
    static const std::pair<std::string_view, ConversationSource> scanIds[] = {
        {"claude-code", ConversationSource::claudeCode},
        {"copilot", ConversationSource::vscodeCopilot},
        {"vscode-copilot", ConversationSource::vscodeCopilot},
        {"gemini", ConversationSource::geminiCli},
        {"gemini-cli", ConversationSource::geminiCli},
    };
    for (const auto &[id, source] : scanIds)
        if (raw == id)
            return source;
    return conversationSourceFromRaw(raw);
}

// A preview as the list shows it: the tools' markup (`<command-name>/clear</command-name>`,
// `<user_query>`) taken out, the repeated command message dropped, blanks collapsed.
std::string listPreview(std::string_view preview)
{
    std::string out;
    for (std::size_t i = 0; i < preview.size();) {
        if (preview[i] == '<') {
            const auto close = preview.find('>', i);
            const auto name = close == std::string_view::npos ? std::string_view() : preview.substr(i + 1, close - i - 1);
            const bool isTag = !name.empty() && name.size() <= 40 &&
                               std::all_of(name.begin(), name.end(), [](char c) {
                                   return (c >= 'a' && c <= 'z') || c == '-' || c == '_' || c == '/';
                               }) &&
                               name.find('/', 1) == std::string_view::npos;
            if (isTag) {
                if (name == "command-message") {
                    const auto end = preview.find("</command-message>", close);
                    i = end == std::string_view::npos ? close + 1 : end + std::string_view("</command-message>").size();
                } else {
                    i = close + 1;
                }
                out += ' ';
                continue;
            }
        }
        const char c = preview[i++];
        out += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
    }
    std::string collapsed;
    for (const char c : out)
        if (c != ' ' || (!collapsed.empty() && collapsed.back() != ' '))
            collapsed += c;
    while (!collapsed.empty() && collapsed.back() == ' ')
        collapsed.pop_back();
    return collapsed.empty() ? std::string("(no text)") : collapsed;
}

std::string projectName(const std::string &cwd)
{
    if (cwd.empty())
        return "-";
    auto trimmed = std::string_view(cwd);
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.remove_suffix(1);
    const auto slash = trimmed.rfind('/');
    return std::string(slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1));
}

struct TerminalSize {
    std::size_t columns = 0;
    std::size_t rows = 0;
};

// The terminal standard output goes to; absent when it is a file or a pipe.
std::optional<TerminalSize> outputTerminal()
{
    if (::isatty(STDOUT_FILENO) != 1)
        return std::nullopt;
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return TerminalSize{80, 24};
    return TerminalSize{size.ws_col, size.ws_row};
}

std::size_t columnsFromEnvironment()
{
    const char *value = std::getenv("COLUMNS");
    std::size_t columns = 0;
    if (value != nullptr)
        std::from_chars(value, value + std::strlen(value), columns);
    return columns >= 40 ? columns : 120;
}

void printJsonList(const std::vector<const ConversationLite *> &shown)
{
    auto list = nlohmann::json::array();
    for (const auto *lite : shown) {
        nlohmann::json item = {{"id", lite->id},
                               {"source", rawValue(lite->source)},
                               {"startAt", sync::internetDateTime(toTimePoint(lite->startAt))},
                               {"endAt", sync::internetDateTime(toTimePoint(lite->endAt))},
                               {"cwd", lite->cwd},
                               {"preview", lite->preview},
                               {"messageCount", lite->messageCount},
                               {"durationSeconds", lite->duration()},
                               {"file", pathFromFileURL(lite->fileURL).value_or(lite->fileURL)}};
        if (lite->gitBranch)
            item["gitBranch"] = *lite->gitBranch;
        if (lite->sidechain)
            item["sidechain"] = true;
        list.push_back(std::move(item));
    }
    // Escaping leaves the JSON valid: it only spells out DEL and the C1 controls.
    std::cout << text::escapeForTerminal(list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)) << "\n";
}

// One row per conversation, in columns of terminal cells; the preview takes what the
// other columns leave, and the ID stays whole (it is what `show` takes).
void printTable(const std::vector<const ConversationLite *> &shown, std::size_t total, std::optional<std::size_t> limit)
{
    const auto terminal = outputTerminal();
    const std::size_t columns = terminal ? terminal->columns : columnsFromEnvironment();
    // One screen by default on a terminal: the header and the footer take two rows.
    const std::size_t screen = terminal ? std::max<std::size_t>(terminal->rows, 5) - 3 : 0;
    const std::size_t wanted = limit.value_or(screen); // 0: all
    const std::size_t count = wanted == 0 ? shown.size() : std::min(shown.size(), wanted);
    const auto now = Instant::now();
    std::size_t idWidth = 2;
    for (std::size_t i = 0; i < count; ++i)
        idWidth = std::max(idWidth, text::displayWidth(text::escapeForTerminal(shown[i]->id)));
    constexpr std::size_t tool = 11, started = 10, messages = 5, duration = 6, projectWidth = 16;
    const std::size_t fixed = tool + started + messages + duration + projectWidth + 6 + idWidth;
    const std::size_t previewWidth = columns > fixed + 20 ? columns - fixed : 20;
    const auto right = [](const std::string &text, std::size_t width) {
        return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
    };
    std::ostringstream out;
    out << text::fitToCells("TOOL", tool) << " " << text::fitToCells("STARTED", started) << " " << right("MSGS", messages)
        << " " << text::fitToCells("TIME", duration) << " " << text::fitToCells("PROJECT", projectWidth) << " "
        << text::fitToCells("PREVIEW", previewWidth) << " ID\n";
    for (std::size_t i = 0; i < count; ++i) {
        const auto &lite = *shown[i];
        // What comes from the log is escaped before it is measured, so the columns hold.
        out << text::fitToCells(displayName(lite.source), tool) << " "
            << text::fitToCells(relativeStart(lite.startAt, now), started) << " "
            << right(std::to_string(lite.messageCount), messages) << " "
            << text::fitToCells(formatDuration(lite.duration()), duration) << " "
            << text::fitToCells(text::escapeForTerminal(projectName(lite.cwd)), projectWidth) << " "
            << text::fitToCells((lite.sidechain ? "↳ subagent: " : "") + text::escapeForTerminal(listPreview(lite.preview)),
                                previewWidth)
            << " "
            << text::escapeForTerminal(lite.id) << "\n";
    }
    out << count << " of " << total << " conversations";
    if (count < shown.size())
        out << " (" << shown.size() << " match; --limit N shows more, --limit 0 all)";
    out << "\n";
    std::cout << out.view();
}

} // namespace

int runConversationsCommand(const std::vector<std::string> &args, const std::string &home)
{
    if (!args.empty() && args.front() == "show")
        return showConversation(std::vector<std::string>(args.begin() + 1, args.end()), home);

    std::set<ConversationSource> sources;
    TimeFilter timeFilter = TimeFilter::all;
    std::string search, project;
    std::optional<std::size_t> limit;
    bool json = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto &arg = args[i];
        const bool takesValue = arg == "--source" || arg == "--time" || arg == "--search" || arg == "--project" ||
                                arg == "--limit";
        if (takesValue && i + 1 >= args.size())
            return usageError("conversations", arg + " needs a value");
        if (arg == "--json") {
            json = true;
        } else if (arg == "--source") {
            std::stringstream list(args[++i]);
            for (std::string raw; std::getline(list, raw, ',');) {
                const auto source = sourceFromArgument(raw);
                if (!source)
                    return usageError("conversations", "unknown source '" + raw
                                                           + "' (claude-code, cursor, openclaw, codex, gemini-cli)");
                sources.insert(*source);
            }
        } else if (arg == "--time") {
            const auto filter = timeFilterFromRaw(args[++i]);
            if (!filter)
                return usageError("conversations", "--time takes today, thisWeek, thisMonth or all");
            timeFilter = *filter;
        } else if (arg == "--search") {
            search = args[++i];
        } else if (arg == "--project") {
            project = text::toLower(args[++i]);
        } else if (arg == "--limit") {
            const auto &value = args[++i];
            std::size_t n = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (error != std::errc() || end != value.data() + value.size())
                return usageError("conversations", "--limit needs a number (0 for all)");
            limit = n;
        } else {
            return usageError("conversations", "unexpected '" + arg + "'");
        }
    }

    auto loaded = store::loadAllSummariesDeferringSave(logRoots(home), cache::LiteCache::defaultCacheFile(home));
    store::ConversationStore::Dependencies dependencies;
    dependencies.postToOwner = [](store::ConversationStore::Task task) { task(); };
    store::ConversationStore store(std::move(dependencies));
    store.setAll(std::move(loaded.lites));
    if (!sources.empty())
        store.setSourceFilter(sources);
    store.setTimeFilter(timeFilter);
    store.setSearchQuery(search);

    std::vector<const ConversationLite *> shown;
    for (const auto &lite : store.filteredConversations())
        if (project.empty() || text::toLower(lite.cwd).find(project) != std::string::npos)
            shown.push_back(&lite);
    if (json)
        printJsonList(shown);
    else
        printTable(shown, store.allConversations().size(), limit);
    std::cout.flush();
    // Printed first: what was shown does not depend on the cache being written.
    loaded.saveCache();
    return 0;
}

} // namespace quorral::cli
