#pragma once

#include "integrations/ConfigResult.h"
#include "integrations/RemovalResult.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The auto-managed instruction block in the user-level rules files of the AI tools. The
// block is delimited by two markers so that it can be found, replaced and removed while
// the rest of the user's file stays as it is.
namespace quorral::integrations::RulesFileManager {

struct RulesTarget {
    std::string id;
    std::string name;
    std::string path;
};

inline constexpr std::string_view startMarker = "<!-- Quorral:start (auto-managed, do not edit this block) -->";
inline constexpr std::string_view endMarker = "<!-- Quorral:end -->";

// The seven lines of the block joined by line feeds, with no line feed after the end marker.
const std::string &instructionBlock();

// Claude Code, Cursor, Windsurf, Trae and Codex, in this order.
std::vector<RulesTarget> targets(const std::string &home);

// Writes or refreshes the block in every file; one result per target, in table order.
std::vector<ConfigResult> syncAll(const std::string &home);
// Takes the block out of every file; one result per target, in table order.
std::vector<RemovalResult> removeAll(const std::string &home);

// A file that exists but cannot be read or is not UTF-8 is never replaced: the result is
// the failure and the file stays as it was.
ConfigResult writeBlock(const RulesTarget &target);
// Never throws; a file that cannot be read, is not UTF-8 or is read-only stays as it was
// and the result says why.
RemovalResult removeBlock(const RulesTarget &target);

// The byte range of the managed block: from a start marker to the first end marker after
// it. When several start markers precede that end marker, the block begins at the last
// of them, so a stray start marker never swallows the user's text that follows it.
struct BlockExtent {
    std::size_t begin = 0;
    std::size_t end = 0;
};
std::optional<BlockExtent> findBlock(std::string_view text);

// The file content after a write: the block replaced in place, or appended.
std::string contentWithBlock(std::string_view existing);
// The file content after removal; absent when the text holds no block (nothing to do).
std::optional<std::string> contentWithoutBlock(std::string_view existing);

} // namespace quorral::integrations::RulesFileManager
