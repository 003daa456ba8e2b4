#pragma once

#include "integrations/ConfigResult.h"
#include "integrations/RemovalResult.h"

#include <nlohmann/json_fwd.hpp>

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace quorral::integrations {

struct MCPTarget {
    std::string id;
    std::string name;
    std::string configPath;
};

// Adds the Quorral memory server to the MCP server lists of four tools, then brings the
// managed rules blocks up to date. Made for one run; holds nothing between runs.
class MCPConfigurator {
public:
    // Diagnostic lines for failed targets go to `log`.
    MCPConfigurator(std::string home, std::ostream &log);

    // The four MCP results (Cursor, Claude Code, Windsurf, Trae) followed by the rules
    // results. An empty key is written as it is.
    std::vector<ConfigResult> configureAll(const std::string &apiKey) const;

    std::vector<MCPTarget> targets() const;

    // Never fails as a whole. A file that cannot be read, is not UTF-8, is not a JSON
    // object or whose "mcpServers" is not an object is left byte for byte as it was, and
    // so is a read-only file. The written file holds the key and is made 0600.
    ConfigResult configureTarget(const MCPTarget &target, const std::string &apiKey) const;

    // {"command": "npx", "args": ["-y", "@quorral/mcp-server"], "env": {"QUORRAL_API_KEY": key}}
    static nlohmann::json mcpServerConfig(const std::string &apiKey);

    // The new file content for `existing` (absent: no file yet), or the reason it cannot be
    // merged. Keys come out sorted at every depth, pretty-printed.
    struct Merge {
        std::string content;
        std::string failure;
    };
    static Merge mergedConfig(const std::optional<std::string> &existing, const std::string &apiKey);

    // Takes the "quorral" entry out of each of the four files again, one result per target in
    // table order. The rest of a file is kept byte for byte; a file left holding nothing but
    // an empty "mcpServers" is deleted, as it then only existed for the entry. Files that
    // cannot be read or parsed, and read-only files, are left as they are and reported.
    std::vector<RemovalResult> removeEntries() const;
    RemovalResult removeEntry(const MCPTarget &target) const;

    // The file content without any "quorral" server, or the reason it cannot be worked
    // out; `fileIsEmpty` when nothing but an empty "mcpServers" would be left.
    struct Removal {
        std::string content;
        std::string failure;
        bool found = false;
        bool fileIsEmpty = false;
    };
    static Removal contentWithoutEntry(std::string_view existing);

private:
    std::string m_home;
    std::ostream &m_log;
};

} // namespace quorral::integrations
