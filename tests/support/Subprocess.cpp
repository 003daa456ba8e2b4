#include "Subprocess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace quorral::test {

Subprocess::Subprocess(const std::vector<std::string> &args, const std::map<std::string, std::string> &environment,
                       bool pipeInput)
{
    // A child that stops reading must not kill the test with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    char pattern[] = "/tmp/quorral-stderr-XXXXXX";
    const int errFd = ::mkstemp(pattern);
    if (errFd < 0)
        throw std::runtime_error("mkstemp failed");
    m_errorFile = pattern;
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("pipe failed");

    std::map<std::string, std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        if (eq != std::string::npos)
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto &[k, v] : environment)
        env[k] = v;
    std::vector<std::string> envStrings;
    for (const auto &[k, v] : env)
        envStrings.push_back(k + "=" + v);
    std::vector<char *> envp;
    for (auto &s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings = args;
    std::vector<char *> argv;
    for (auto &s : argStrings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    int in[2] = {-1, -1};
    if (pipeInput) {
        if (::pipe2(in, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    }
    const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(errFd);
    if (pipeInput)
        ::close(in[0]);
    m_stdin = in[1];
    if (rc != 0)
        throw std::runtime_error("cannot start " + args.front());
    m_stdout = out[0];
}

Subprocess::~Subprocess()
{
    if (m_pid > 0 && m_status < 0) {
        ::kill(m_pid, SIGKILL);
        wait();
    }
    if (m_stdout >= 0)
        ::close(m_stdout);
    closeInput();
    ::unlink(m_errorFile.c_str());
}

std::optional<std::string> Subprocess::readLine(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (const auto feed = m_buffer.find('\n'); feed != std::string::npos) {
            std::string line = m_buffer.substr(0, feed);
            m_buffer.erase(0, feed + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd p{m_stdout, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return std::nullopt;
        char chunk[4096];
        const ssize_t n = ::read(m_stdout, chunk, sizeof chunk);
        if (n <= 0)
            return std::nullopt;
        m_buffer.append(chunk, static_cast<std::size_t>(n));
        m_output.append(chunk, static_cast<std::size_t>(n));
    }
}

bool Subprocess::writeInput(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(m_stdin, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void Subprocess::closeInput()
{
    if (m_stdin >= 0)
        ::close(m_stdin);
    m_stdin = -1;
}

void Subprocess::signal(int signal)
{
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

int Subprocess::wait()
{
    if (m_status >= 0)
        return m_status;
    // Keep reading standard output while waiting, so that the child never blocks on a full
    // pipe; stop at its end or once the child is gone (a grandchild may hold the pipe open).
    int raw = 0;
    while (true) {
        const pid_t done = ::waitpid(m_pid, &raw, WNOHANG);
        if (done == m_pid || (done < 0 && errno != EINTR))
            break;
        pollfd p{m_stdout, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            char chunk[4096];
            const ssize_t n = ::read(m_stdout, chunk, sizeof chunk);
            if (n > 0)
                m_output.append(chunk, static_cast<std::size_t>(n));
        }
    }
    ::fcntl(m_stdout, F_SETFL, O_NONBLOCK);
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(m_stdout, chunk, sizeof chunk)) > 0)
        m_output.append(chunk, static_cast<std::size_t>(n));
    m_status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return m_status;
}

std::string Subprocess::errorOutput() const
{
    std::ifstream in(m_errorFile);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace quorral::test
