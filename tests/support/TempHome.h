#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quorral::test {

// A fresh temporary directory, removed with everything in it when the object goes.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome &) = delete;
    TempHome &operator=(const TempHome &) = delete;

    const std::string &path() const { return m_path; }
    // Writes `content` to `relative` below the home, creating folders; returns the full path.
    std::string write(std::string_view relative, std::string_view content) const;
    std::string mkdir(std::string_view relative) const;
    std::string operator/(std::string_view relative) const { return m_path + "/" + std::string(relative); }

private:
    std::string m_path;
};

// Sets a file's modification time to `secondsSince1970` (sub-second precision kept).
void setModificationTime(const std::string &path, double secondsSince1970);

// The shared fixtures folder of real tool logs.
std::string fixturesDirectory();

} // namespace quorral::test
