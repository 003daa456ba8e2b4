#pragma once

#include "platform/ToolLocations.h"
#include "scan/TableScanner.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorral::scan {

// The ten tool scanners. Each is its table row: the tool's id, name, tier, presence
// test and sources under the platform's locations.

class ClaudeCodeScanner final : public TableScanner {
public:
    ClaudeCodeScanner(const platform::ToolLocations &locations, ScanTracker &tracker);
    // The last dash-separated piece of the folder after "projects" in `path`.
    static std::optional<std::string> extractProjectTag(std::string_view path);
};

class CursorScanner final : public TableScanner {
public:
    CursorScanner(const platform::ToolLocations &locations, ScanTracker &tracker);
};

class OpenClawScanner final : public TableScanner {
public:
    OpenClawScanner(const platform::ToolLocations &locations, ScanTracker &tracker);
};

class WindsurfScanner final : public TableScanner {
public:
    WindsurfScanner(const platform::ToolLocations &locations, ScanTracker &tracker);
};

class ChatGPTScanner final : public TableScanner {
public:
    ChatGPTScanner(const platform::ToolLocations &locations, ScanTracker &tracker);
};

class GeminiScanner final : public TableScanner {
public:
    GeminiScanner(const platform::ToolLocations &locations, ScanTracker &tracker);
};

class CopilotScanner final : public TableScanner {
public:
    CopilotScanner(const platform::ToolLocations &locations, ScanTracker &tracker);
};

class TraeScanner final : public TableScanner {
public:
    TraeScanner(const platform::ToolLocations &locations, ScanTracker &tracker);
};

class CodexScanner final : public TableScanner {
public:
    CodexScanner(const platform::ToolLocations &locations, ScanTracker &tracker);
};

class DeepSeekScanner final : public TableScanner {
public:
    DeepSeekScanner(const platform::ToolLocations &locations, ScanTracker &tracker);
};

// A fresh scanner for a watched tool's id; any other id gives Claude Code's.
std::unique_ptr<PlatformScanner> makeWatchedScanner(const std::string &id, const platform::ToolLocations &locations,
                                                    ScanTracker &tracker);

// All ten, in scanning order: stably sorted by tier.
std::vector<std::unique_ptr<PlatformScanner>> makeAllScanners(const platform::ToolLocations &locations,
                                                              ScanTracker &tracker);

} // namespace quorral::scan
