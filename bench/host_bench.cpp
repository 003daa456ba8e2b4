// Time from starting the native-messaging host to its first reply to "ping", the cost a
// browser pays on every connection, beside /bin/cat echoing the same frame.
//   host_bench QUORRAL_EXE [--runs N]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// Starts `argv`, writes one ping frame, reads one frame back; returns milliseconds.
double timeOneRun(const std::vector<std::string> &argv)
{
    int toChild[2], fromChild[2];
    if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
        posix_spawn_file_actions_addclose(&actions, fd);
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);

    const std::string body = R"({"type":"ping"})";
    const auto length = static_cast<std::uint32_t>(body.size());
    std::string frame(4, '\0');
    std::memcpy(frame.data(), &length, 4);
    frame += body;

    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (::write(toChild[1], frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
        std::exit(1);
    char header[4];
    std::size_t got = 0;
    while (got < 4) {
        const ssize_t n = ::read(fromChild[0], header + got, 4 - got);
        if (n <= 0)
            std::exit(1);
        got += static_cast<std::size_t>(n);
    }
    std::uint32_t replyLength = 0;
    std::memcpy(&replyLength, header, 4);
    std::string reply(replyLength, '\0');
    got = 0;
    while (got < replyLength) {
        const ssize_t n = ::read(fromChild[0], reply.data() + got, replyLength - got);
        if (n <= 0)
            std::exit(1);
        got += static_cast<std::size_t>(n);
    }
    const auto end = Clock::now();
    ::close(toChild[1]);
    ::close(fromChild[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: host_bench QUORRAL_EXE [--runs N]\n");
        return 2;
    }
    int runs = 100;
    if (argc >= 4 && std::strcmp(argv[2], "--runs") == 0)
        runs = std::atoi(argv[3]);
    // A throw-away home, so the host's marker write goes nowhere that matters.
    char home[] = "/tmp/quorral-host-bench-XXXXXX";
    if (!::mkdtemp(home))
        return 1;
    ::setenv("HOME", home, 1);

    const std::vector<std::string> host = {argv[1], "--native-messaging"};
    const std::vector<std::string> cat = {"/bin/cat"};
    std::vector<double> hostTimes, catTimes;
    // Interleaved, so both see the same machine state.
    for (int i = 0; i < runs; ++i) {
        hostTimes.push_back(timeOneRun(host));
        catTimes.push_back(timeOneRun(cat));
    }
    const double h = median(hostTimes), c = median(catTimes);
    std::printf("start to first pong, median of %d runs: host %.2f ms, /bin/cat echo %.2f ms, difference %.2f ms, "
                "ratio %.2f\n",
                runs, h, c, h - c, h / c);
    std::string cleanup = std::string("rm -rf ") + home;
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
