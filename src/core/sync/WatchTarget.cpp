#include "sync/WatchTarget.h"

namespace quorral::sync {

std::vector<WatchTarget> watchPaths(const platform::ToolLocations &l)
{
    return {
        {l.claudeDir + "/projects", "claude-code"},
        {l.cursorUser + "/workspaceStorage", "cursor"},
        {l.cursorUser + "/globalStorage/anysphere.cursor-agent/agent-transcripts", "cursor"},
        {l.cursorProjects, "cursor"},
        {l.windsurfUser, "windsurf"},
        {l.home + "/.openclaw/workspace", "openclaw"},
        {l.home + "/.gemini", "gemini"},
        {l.vscodeUser + "/globalStorage/emptyWindowChatSessions", "copilot"},
        {l.home + "/.codex/sessions", "codex"},
    };
}

} // namespace quorral::sync
