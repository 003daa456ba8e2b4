#include "integrations/MCPConfigurator.h"

#include "integrations/RulesFileManager.h"
#include "io/AtomicWrite.h"
#include "io/ReadFile.h"
#include "text/Unicode.h"

#include <nlohmann/json.hpp>

#include <ostream>

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
        return ConfigResult{.id = target.id, .label = target.name + " 配置失败", .success = false, .needsRestart = false};
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
    // A new file holds the API key: only the user may read it. A replaced file keeps its
    // permissions, and the old file stays whole when the write fails.
    const io::AtomicWriteOptions options{.temporarySuffix = ".quorral.tmp", .mode = 0600};
    if (const auto failure = io::writeFileAtomically(target.configPath, merge.content, options))
        return failed(failure->message());
    return ConfigResult{.id = target.id, .label = target.name + " 已连接", .success = true, .needsRestart = true};
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

} // namespace quorral::integrations
