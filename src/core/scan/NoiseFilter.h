#pragma once

#include <array>
#include <string>
#include <string_view>

namespace quorral::scan {

// Phrases that mark a short assistant message as the tool's housekeeping chatter.
inline constexpr std::array<std::string_view, 26> assistantNoisePatterns{
    "让我读取", "让我查看", "让我检查", "让我搜索", "让我运行",
    "Let me read", "Let me check", "Let me search", "Let me look",
    "I'll read", "I'll check", "I'll search", "I'll look",
    "Build complete", "Build successful", "构建成功", "编译成功",
    "已更新", "已修改", "已创建", "已删除",
    "The file", "has been updated", "No matches found", "App launched", "App restarted",
};

inline constexpr std::size_t minimumMessageLength = 8;
inline constexpr std::size_t shortAssistantMessageLength = 80;
inline constexpr std::size_t keptPathLinesPerRun = 2;

// The cleaned message text, or an empty string when the message is noise: too short,
// a command echo, or a short assistant status line. Code blocks collapse to
// "[lang code]" and long runs of path lines to two lines and a count.
std::string filterNoiseFromMessage(std::string_view text, std::string_view role);

} // namespace quorral::scan
