#include "TempHome.h"

#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace quorral::test {

TempHome::TempHome()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "quorral-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary directory");
    m_path = pattern;
}

TempHome::~TempHome()
{
    std::error_code ec;
    // Give back permissions a test may have taken away, so that everything can go.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink())
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(m_path, ec);
}

std::string TempHome::write(std::string_view relative, std::string_view content) const
{
    const std::filesystem::path full = std::filesystem::path(m_path) / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + full.string());
    return full.string();
}

std::string TempHome::mkdir(std::string_view relative) const
{
    const std::filesystem::path full = std::filesystem::path(m_path) / relative;
    std::filesystem::create_directories(full);
    return full.string();
}

void setModificationTime(const std::string &path, double secondsSince1970)
{
    timespec times[2];
    const double whole = std::floor(secondsSince1970);
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(whole);
    times[0].tv_nsec = times[1].tv_nsec = static_cast<long>((secondsSince1970 - whole) * 1e9);
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("cannot set the modification time of " + path);
}

std::string fixturesDirectory()
{
    const char *dir = std::getenv("QUORRAL_FIXTURES");
    return dir != nullptr ? dir : "../shared/fixtures";
}

} // namespace quorral::test
