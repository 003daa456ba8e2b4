#include "integrations/MCPConfigurator.h"

#include "integrations/JsonMemberRemoval.h"
#include "integrations/RulesFileManager.h"
#include "io/AtomicWrite.h"
#include "io/ReadFile.h"
#include "text/Unicode.h"

#include <cerrno>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace quorral::integrations {

MCPConfigurator::MCPConfigurator(std::string home, std::ostream &log) : m_home(std::move(home)), m_log(log) {}

std::vector<MCPTarget> MCPConfigurator::targets() const
{
    return {
        {"cursor", "Cursor", m_home + "/.cursor/mcp.json"},
        {"claude-code", "Claude Code", m_home + "/.claude/mcp.json"},
        {"windsurf", "Windsurf", m_home + "/.windsurf/mcp.json"},
        {"trae", "Trae", m_home + "/.trae/mcp.json"},
    };
}

nlohmann::json MCPConfigurator::mcpServerConfig(const std::string &apiKey)
{
    return {
        {"command", "npx"},
        {"args", {"-y", "@quorral/mcp-server"}},
        {"env", {{"QUORRAL_API_KEY", apiKey}}},
    };
}

MCPConfigurator::Merge MCPConfigurator::mergedConfig(const std::optional<std::string> &existing,
                                                     const std::string &apiKey)
{
    nlohmann::json root = nlohmann::json::object();
    if (existing) {
        if (!text::isValidUtf8(*existing))
            return {.content = {}, .failure = "the file is not UTF-8 text"};
        root = nlohmann::json::parse(*existing, nullptr, /*allow_exceptions=*/false);
        if (!root.is_object())
            return {.content = {}, .failure = "the file does not hold a JSON object"};
    }
    nlohmann::json servers = nlohmann::json::object();
    if (const auto found = root.find("mcpServers"); found != root.end()) {
        if (!found->is_object())
            return {.content = {}, .failure = "its \"mcpServers\" member is not an object"};
        servers = std::move(*found);
    }
    servers["quorral"] = mcpServerConfig(apiKey);
    root["mcpServers"] = std::move(servers);
    try {
        // nlohmann::json keeps object members in sorted order at every depth.
        return {.content = root.dump(2), .failure = {}};
    } catch (const nlohmann::json::exception &error) {
        return {.content = {}, .failure = error.what()};
    }
}

ConfigResult MCPConfigurator::configureTarget(const MCPTarget &target, const std::string &apiKey) const
{
    const auto failed = [&](const std::string &description) {
        m_log << "[MCPConfigurator] Failed to configure " << target.name << " at " << target.configPath << ": "
              << description << "\n";
        m_log.flush();
        return ConfigResult{.id = target.id, .label = target.name + " 配置失败", .success = false, .needsRestart = false,
                            .name = target.name};
    };

    std::optional<std::string> existing;
    if (io::exists(target.configPath)) {
        existing = io::readWholeFile(target.configPath);
        if (!existing)
            return failed("the file cannot be read");
    }
    const auto merge = mergedConfig(existing, apiKey);
    if (!merge.failure.empty())
        return failed(merge.failure);

    // A failure to create the folder shows up as the write failure below.
    io::createDirectories(io::parentDirectory(target.configPath));
    // The file holds the API key from now on, so only the user may read it, whatever
    // permissions it had. A read-only file is refused, and a failed write leaves the old file whole.
    const io::AtomicWriteOptions options{.temporarySuffix = ".quorral.tmp", .mode = 0600, .keepExistingMode = false};
    if (const auto failure = io::writeFileAtomically(target.configPath, merge.content, options))
        return failed(failure->message());
    return ConfigResult{.id = target.id, .label = target.name + " 已连接", .success = true, .needsRestart = true,
                        .name = target.name};
}

std::vector<ConfigResult> MCPConfigurator::configureAll(const std::string &apiKey) const
{
    std::vector<ConfigResult> results;
    for (const auto &target : targets())
        results.push_back(configureTarget(target, apiKey));
    for (auto &result : RulesFileManager::syncAll(m_home))
        results.push_back(std::move(result));
    return results;
}

MCPConfigurator::Removal MCPConfigurator::contentWithoutEntry(std::string_view existing)
{
    const auto failed = [](std::string failure) {
        return Removal{.content = {}, .failure = std::move(failure), .found = false, .fileIsEmpty = false};
    };
    if (!text::isValidUtf8(existing))
        return failed("the file is not UTF-8 text");
    auto root = nlohmann::json::parse(existing, nullptr, /*allow_exceptions=*/false);
    if (!root.is_object())
        return failed("the file does not hold a JSON object");
    const auto servers = root.find("mcpServers");
    if (servers == root.end() || !servers->is_object() || !servers->contains("quorral"))
        return {.content = std::string(existing), .failure = {}, .found = false, .fileIsEmpty = false};
    servers->erase("quorral");

    Removal removal{.content = withoutNestedMember(existing, "mcpServers", "quorral"),
                    .failure = {},
                    .found = true,
                    .fileIsEmpty = root.size() == 1 && servers->empty()};
    // The cut is checked against the parsed result; should it ever disagree, the file is
    // written out from the parsed value instead, the way configure writes it.
    if (nlohmann::json::parse(removal.content, nullptr, /*allow_exceptions=*/false) != root) {
        try {
            removal.content = root.dump(2);
        } catch (const nlohmann::json::exception &error) {
            return failed(error.what());
        }
    }
    return removal;
}

RemovalResult MCPConfigurator::removeEntry(const MCPTarget &target) const
{
    const auto result = RemovalResult::absent(target.name + " MCP entry", target.configPath);
    const auto failed = [&](std::string problem) { return result.failed(std::move(problem)); };
    if (!io::exists(target.configPath))
        return result;
    const auto existing = io::readWholeFile(target.configPath);
    if (!existing)
        return failed("the file cannot be read");
    auto removal = contentWithoutEntry(*existing);
    if (!removal.failure.empty())
        return failed(removal.failure + "; it was left as it is");
    if (!removal.found)
        return result;
    if (io::isReadOnly(target.configPath))
        return failed("the file is read-only; it was left as it is");
    // A link (into a dotfiles repository, say) is kept and the file behind it written instead.
    struct stat st {};
    const bool isLink = ::lstat(target.configPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    if (removal.fileIsEmpty && !isLink) {
        if (::unlink(target.configPath.c_str()) != 0)
            return failed(io::WriteError{"remove", target.configPath, errno}.message());
    } else if (const auto failure =
                   io::writeFileAtomically(target.configPath, removal.content, {.temporarySuffix = ".quorral.tmp"})) {
        return failed(failure->message());
    }
    return result.removed();
}

std::vector<RemovalResult> MCPConfigurator::removeEntries() const
{
    std::vector<RemovalResult> results;
    for (const auto &target : targets())
        results.push_back(removeEntry(target));
    return results;
}

} // namespace quorral::integrations
