#include "integrations/RulesFileManager.h"

#include "io/AtomicWrite.h"
#include "io/ReadFile.h"
#include "platform/HomeDirectory.h"
#include "text/Unicode.h"

#include <cerrno>
#include <unistd.h>

namespace quorral::integrations::RulesFileManager {
namespace {

constexpr std::string_view temporarySuffix = ".quorral.tmp";

ConfigResult resultFor(const RulesTarget &target, bool success)
{
    return ConfigResult{
        .id = "rules-" + target.id,
        .label = target.name + (success ? " 规则已写入" : " 规则写入失败"),
        .success = success,
        .needsRestart = false,
        .name = target.name,
    };
}

// The file's text: empty when there is no file, absent when it is there but unusable.
std::optional<std::string> readExisting(const std::string &path)
{
    if (!io::exists(path))
        return std::string();
    auto content = io::readWholeFile(path);
    if (!content || !text::isValidUtf8(*content))
        return std::nullopt;
    return content;
}

std::optional<io::WriteError> write(const std::string &path, std::string_view content)
{
    return io::writeFileAtomically(path, content, {.temporarySuffix = std::string(temporarySuffix)});
}

bool writeText(const std::string &path, std::string_view content)
{
    return !write(path, content);
}

} // namespace

const std::string &instructionBlock()
{
    static const std::string block = std::string(startMarker) +
                                     "\n## Quorral Memory\n\n"
                                     "在每次新对话开始时，调用 quorral_inject 加载用户背景上下文。\n"
                                     "当用户的问题涉及历史决策、偏好、项目背景时，调用 quorral_recall 检索相关记忆。\n"
                                     "当用户明确要求记住某个信息时，调用 quorral_save。\n" +
                                     std::string(endMarker);
    return block;
}

std::vector<RulesTarget> targets(const std::string &home)
{
    return {
        // Claude Code reads its rules from CLAUDE_CONFIG_DIR when that is set.
        {"claude-code", "Claude Code", platform::claudeConfigDirOverride().value_or(home + "/.claude") + "/CLAUDE.md"},
        {"cursor", "Cursor", home + "/.cursor/rules/quorral.mdc"},
        {"windsurf", "Windsurf", home + "/.windsurfrules"},
        {"trae", "Trae", home + "/.trae/rules/quorral.md"},
        {"codex", "Codex", home + "/.codex/instructions.md"},
    };
}

std::optional<BlockExtent> findBlock(std::string_view text)
{
    const auto start = text.find(startMarker);
    if (start == std::string_view::npos)
        return std::nullopt;
    const auto end = text.find(endMarker, start + startMarker.size());
    if (end == std::string_view::npos)
        return std::nullopt;
    const auto lastStart = text.rfind(startMarker, end - startMarker.size());
    return BlockExtent{lastStart, end + endMarker.size()};
}

std::string contentWithBlock(std::string_view existing)
{
    if (const auto block = findBlock(existing)) {
        std::string content(existing.substr(0, block->begin));
        content += instructionBlock();
        content += existing.substr(block->end);
        return content;
    }
    if (!existing.empty()) {
        std::string content(text::trimLineBreaks(existing));
        content += "\n\n";
        content += instructionBlock();
        content += '\n';
        return content;
    }
    return instructionBlock() + "\n";
}

std::optional<std::string> contentWithoutBlock(std::string_view existing)
{
    const auto block = findBlock(existing);
    if (!block)
        return std::nullopt;
    std::string rest(existing.substr(0, block->begin));
    rest += existing.substr(block->end);
    // Runs of three or more line feeds shrink to two.
    std::string collapsed;
    collapsed.reserve(rest.size());
    std::size_t feeds = 0;
    for (char c : rest) {
        feeds = c == '\n' ? feeds + 1 : 0;
        if (feeds <= 2)
            collapsed += c;
    }
    return std::string(text::trimWhitespace(collapsed));
}

ConfigResult writeBlock(const RulesTarget &target)
{
    if (io::createDirectories(io::parentDirectory(target.path)))
        return resultFor(target, false);
    const auto existing = readExisting(target.path);
    if (!existing)
        return resultFor(target, false);
    return resultFor(target, writeText(target.path, contentWithBlock(*existing)));
}

RemovalResult removeBlock(const RulesTarget &target)
{
    const auto result = RemovalResult::absent(target.name + " rules block", target.path);
    const auto failed = [&](std::string problem) { return result.failed(std::move(problem)); };
    if (!io::exists(target.path))
        return result;
    const auto existing = readExisting(target.path);
    if (!existing)
        return failed("the file cannot be read as UTF-8 text; it was left as it is");
    const auto rest = contentWithoutBlock(*existing);
    if (!rest)
        return result;
    if (io::isReadOnly(target.path))
        return failed("the file is read-only; it was left as it is");
    std::optional<io::WriteError> failure;
    if (!rest->empty()) {
        failure = write(target.path, *rest + "\n");
    } else if (target.id == "cursor" || target.id == "trae" || target.id == "codex") {
        // Files that exist only for the block go away with it.
        if (::unlink(target.path.c_str()) != 0)
            failure = io::WriteError{"remove", target.path, errno};
    } else {
        failure = write(target.path, "");
    }
    if (failure)
        return failed(failure->message());
    return result.removed();
}

std::vector<ConfigResult> syncAll(const std::string &home)
{
    std::vector<ConfigResult> results;
    for (const auto &target : targets(home))
        results.push_back(writeBlock(target));
    return results;
}

std::vector<RemovalResult> removeAll(const std::string &home)
{
    std::vector<RemovalResult> results;
    for (const auto &target : targets(home))
        results.push_back(removeBlock(target));
    return results;
}

} // namespace quorral::integrations::RulesFileManager
