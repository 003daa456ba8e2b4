#include "scan/ProjectOptOut.h"

#include "conversation/Model.h"
#include "io/ReadFile.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <filesystem>
#include <memory>
#include <string_view>

namespace quorral::scan {
namespace {

// The first records are enough: the working directory is written at the start.
constexpr std::size_t headLength = 64 * 1024;

std::optional<std::string> readHead(const std::string &path)
{
    const auto file = io::openRegularFile(path);
    if (!file)
        return std::nullopt;
    std::string head(headLength, '\0');
    const auto got = io::readInto(*file, 0, head.data(), head.size());
    if (!got)
        return std::nullopt;
    head.resize(*got);
    return head;
}

// The JSON string that starts at `quote`, decoded; absent when it does not end in `text`.
std::optional<std::string> jsonStringAt(std::string_view text, std::size_t quote)
{
    for (std::size_t end = quote + 1; end < text.size(); ++end) {
        if (text[end] == '\\') {
            ++end;
            continue;
        }
        if (text[end] == '"') {
            const auto value = nlohmann::json::parse(text.substr(quote, end - quote + 1), nullptr, false);
            if (value.is_string())
                return value.get<std::string>();
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::string> cwdMember(std::string_view head)
{
    constexpr std::string_view key = "\"cwd\"";
    for (auto at = head.find(key); at != std::string_view::npos; at = head.find(key, at + key.size())) {
        auto pos = head.find_first_not_of(" \t", at + key.size());
        if (pos == std::string_view::npos || head[pos] != ':')
            continue;
        pos = head.find_first_not_of(" \t", pos + 1);
        if (pos == std::string_view::npos || head[pos] != '"')
            continue;
        auto value = jsonStringAt(head, pos);
        if (value && value->starts_with('/'))
            return value;
    }
    return std::nullopt;
}

// ".../workspaceStorage/<id>/..." gives ".../workspaceStorage/<id>".
std::optional<std::string> workspaceFolderOf(std::string_view path)
{
    constexpr std::string_view marker = "/workspaceStorage/";
    const auto at = path.find(marker);
    if (at == std::string_view::npos)
        return std::nullopt;
    const auto end = path.find('/', at + marker.size());
    if (end == std::string_view::npos)
        return std::nullopt;
    return std::string(path.substr(0, end));
}

std::optional<std::string> workspaceProjectFolder(const std::string &workspace)
{
    const auto text = io::readWholeFile(workspace + "/workspace.json");
    if (!text)
        return std::nullopt;
    const auto document = nlohmann::json::parse(*text, nullptr, false);
    if (!document.is_object() || !document.contains("folder") || !document["folder"].is_string())
        return std::nullopt;
    return conversation::pathFromFileURL(document["folder"].get<std::string>());
}

// A folder name as it appears in a project slug: every byte but letters and digits is "-".
bool slugStartsWith(std::string_view slug, std::string_view name)
{
    if (name.empty() || slug.size() < name.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const char expected = std::isalnum(c) ? name[i] : '-';
        if (slug[i] != expected)
            return false;
    }
    return true;
}

// The existing folder whose path is written as `slug` ("home-ann-my-app" for /home/ann/my-app
// or /home/ann/my/app): the slug's dashes are ambiguous, so the file system decides.
std::optional<std::string> folderOfSlug(const std::string &parent, std::string_view slug, int depth = 0)
{
    if (slug.empty())
        return parent.empty() ? std::string("/") : parent;
    if (depth > 32)
        return std::nullopt;
    std::error_code error;
    std::filesystem::directory_iterator entries(parent.empty() ? std::string("/") : parent, error);
    if (error)
        return std::nullopt;
    for (const auto &entry : entries) {
        const std::string name = entry.path().filename().string();
        if (!slugStartsWith(slug, name) || !entry.is_directory(error))
            continue;
        const auto rest = slug.substr(name.size());
        if (!rest.empty() && rest.front() != '-')
            continue;
        if (auto found = folderOfSlug(parent + "/" + name, rest.empty() ? rest : rest.substr(1), depth + 1))
            return found;
    }
    return std::nullopt;
}

// ".../.cursor/projects/<slug>/agent-transcripts/..." gives the slug.
std::optional<std::string> cursorProjectSlug(std::string_view path)
{
    constexpr std::string_view marker = "/.cursor/projects/";
    const auto at = path.find(marker);
    if (at == std::string_view::npos)
        return std::nullopt;
    const auto begin = at + marker.size();
    const auto end = path.find('/', begin);
    if (end == std::string_view::npos || path.substr(end + 1).find("agent-transcripts/") != 0)
        return std::nullopt;
    return std::string(path.substr(begin, end - begin));
}

} // namespace

std::optional<std::string> sessionWorkingDirectory(const std::string &logPath)
{
    if (const auto head = readHead(logPath)) {
        if (auto cwd = cwdMember(*head))
            return cwd;
    }
    if (const auto workspace = workspaceFolderOf(logPath))
        return workspaceProjectFolder(*workspace);
    if (const auto slug = cursorProjectSlug(logPath))
        return folderOfSlug("", *slug);
    return std::nullopt;
}

bool ProjectOptOut::optedOut(const std::string &directory)
{
    const auto found = m_optedOut.find(directory);
    if (found != m_optedOut.end())
        return found->second;
    const bool result = io::exists(directory + "/" + fileName);
    m_optedOut.emplace(directory, result);
    return result;
}

bool ProjectOptOut::excludes(const std::string &logPath)
{
    std::optional<std::string> directory;
    if (const auto head = readHead(logPath))
        directory = cwdMember(*head);
    if (!directory) {
        // The editor's workspace folder is the same for every log below it: read once per pass.
        if (const auto workspace = workspaceFolderOf(logPath)) {
            auto found = m_workspaceFolders.find(*workspace);
            if (found == m_workspaceFolders.end())
                found = m_workspaceFolders.emplace(*workspace, workspaceProjectFolder(*workspace)).first;
            directory = found->second;
        }
    }
    if (!directory) {
        // Cursor names the project folder after its path: decoded once per pass.
        if (const auto slug = cursorProjectSlug(logPath)) {
            auto found = m_workspaceFolders.find(*slug);
            if (found == m_workspaceFolders.end())
                found = m_workspaceFolders.emplace(*slug, folderOfSlug("", *slug)).first;
            directory = found->second;
        }
    }
    return directory && optedOut(*directory);
}

} // namespace quorral::scan
