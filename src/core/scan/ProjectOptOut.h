#pragma once

#include <optional>
#include <string>
#include <unordered_map>

namespace quorral::scan {

// The project-level opt-out: a file ".quorral-ignore" in the working directory of a
// session keeps that session's log out. Made for one scan pass, so each directory is
// looked at once per pass and a file added or removed between passes counts at the next.
class ProjectOptOut {
public:
    static constexpr const char *fileName = ".quorral-ignore";

    // True when the log's session ran in a directory that holds ".quorral-ignore".
    bool excludes(const std::string &logPath);

private:
    bool optedOut(const std::string &directory);

    std::unordered_map<std::string, bool> m_optedOut;
    // Workspace storage folders and Cursor project names, with the project folder each stands for.
    std::unordered_map<std::string, std::optional<std::string>> m_workspaceFolders;
};

// Where the session of a log ran: the first "cwd" member near the start of the log (Claude
// Code and Codex write it on their first records); for a log kept below an editor's
// workspace storage folder, the folder named in that folder's "workspace.json"; for a
// Cursor agent transcript, the existing folder its project folder's name spells.
std::optional<std::string> sessionWorkingDirectory(const std::string &logPath);

} // namespace quorral::scan
