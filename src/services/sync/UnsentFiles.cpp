#include "sync/UnsentFiles.h"

#include "io/AtomicWrite.h"
#include "io/ReadFile.h"

#include <algorithm>
#include <unordered_set>
#include <sstream>

namespace quorral::sync {
namespace {

std::string_view statusName(api::UploadStatus status)
{
    switch (status) {
    case api::UploadStatus::accepted:
        return "accepted";
    case api::UploadStatus::refused:
        return "refused";
    case api::UploadStatus::failed:
        break;
    }
    return "failed";
}

std::optional<api::UploadStatus> statusFromName(std::string_view name)
{
    if (name == "failed")
        return api::UploadStatus::failed;
    if (name == "refused")
        return api::UploadStatus::refused;
    return std::nullopt;
}

} // namespace

std::string unsentFilesPath(const std::string &home)
{
    return home + "/.quorral/unsent-files";
}

std::vector<UnsentFile> loadUnsentFiles(const std::string &home)
{
    std::vector<UnsentFile> files;
    const auto text = io::readWholeFile(unsentFilesPath(home));
    if (!text)
        return files;
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
        const auto first = line.find('\t');
        const auto second = first == std::string::npos ? first : line.find('\t', first + 1);
        if (second == std::string::npos)
            continue;
        const auto status = statusFromName(std::string_view(line).substr(0, first));
        if (!status)
            continue;
        files.push_back({line.substr(first + 1, second - first - 1), line.substr(second + 1), *status});
    }
    return files;
}

std::optional<io::WriteError> saveUnsentFiles(const std::string &home, const std::vector<std::string> &sentPaths,
                                              const std::vector<UnsentFile> &unsent)
{
    auto files = loadUnsentFiles(home);
    const std::unordered_set<std::string> sent(sentPaths.begin(), sentPaths.end());
    std::erase_if(files, [&](const UnsentFile &file) { return sent.contains(file.path) || !io::exists(file.path); });
    files.insert(files.end(), unsent.begin(), unsent.end());
    std::string text;
    for (const auto &file : files) {
        // A path with a line break cannot be stored in this format; it is rare enough to leave out.
        if (file.path.find('\n') != std::string::npos || file.status == api::UploadStatus::accepted)
            continue;
        text += std::string(statusName(file.status)) + "\t" + file.tool + "\t" + file.path + "\n";
    }
    if (text.empty() && !io::readWholeFile(unsentFilesPath(home)))
        return std::nullopt; // nothing to say and nothing to clear
    if (auto failure = io::createDirectories(home + "/.quorral"))
        return failure;
    return io::writeFileAtomically(unsentFilesPath(home), text, {.temporarySuffix = ".tmp", .mode = 0600});
}

} // namespace quorral::sync
