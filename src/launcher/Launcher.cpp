// The `quorral` executable: Qt-free, so that a browser starting the native-messaging host
// pays for the host alone. Every other mode is the Qt program beside it, started in place
// of this process (same pid, arguments and descriptors).
#include "integrations/NativeMessagingHandler.h"
#include "platform/HomeDirectory.h"
#include "platform/RunMode.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Host mode: only frames may reach standard output. The frames get a descriptor of their
// own and descriptor 1 is pointed at standard error, so a stray line from any library
// lands in the browser's log instead of corrupting the stream.
int runNativeMessagingHost()
{
    std::signal(SIGPIPE, SIG_IGN); // a closed pipe ends the loop instead of the process
    const int frames = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (frames < 0)
        return 0;
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    const int status =
        quorral::integrations::NativeMessagingHandler::runHost(quorral::platform::homeDirectory(), STDIN_FILENO, frames);
    ::close(frames);
    return status;
}

std::string ownPath()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// Beside this executable in the build tree; under libexec once installed.
std::vector<std::string> qtProgramCandidates(const std::string &self)
{
    const std::string dir = self.substr(0, self.rfind('/') + 1);
    return {dir + "quorral-qt", dir + "../libexec/quorral/quorral-qt"};
}

} // namespace

int main(int argc, char **argv)
{
    // Decided before anything else exists: a browser starting us gets the host and nothing more.
    if (quorral::platform::decideRunMode(std::vector<std::string_view>(argv, argv + argc)) ==
        quorral::platform::RunMode::host)
        return runNativeMessagingHost();

    const std::string self = ownPath();
    if (self.empty()) {
        std::cerr << "quorral: cannot find its own executable (/proc/self/exe): " << std::strerror(errno) << "\n";
        return 127;
    }
    // Host manifests and the autostart entry name the executable the user runs, not the Qt one.
    ::setenv("QUORRAL_EXECUTABLE", self.c_str(), 1);
    const auto candidates = qtProgramCandidates(self);
    for (const auto &candidate : candidates) {
        if (::access(candidate.c_str(), X_OK) != 0)
            continue;
        ::execv(candidate.c_str(), argv);
        std::cerr << "quorral: cannot start " << candidate << ": " << std::strerror(errno) << "\n";
        return 127;
    }
    std::cerr << "quorral: the installation is incomplete: neither " << candidates[0] << " nor " << candidates[1]
              << " exists\n";
    return 127;
}
