#include "LocalServer.h"

#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace quorral::test {

LocalServer::LocalServer(const std::string &executable, const std::string &databasePath, bool testRoutes, int port)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<std::string> args{executable, "--port", std::to_string(port), "--db", databasePath};
    if (testRoutes)
        args.push_back("--test-routes");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&m_pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error("cannot start " + executable);
    }
    // The first line names the port: "quorral-server listening on http://127.0.0.1:PORT ...".
    std::string line;
    char c;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(pipeFds[0]);
    const auto at = line.find("127.0.0.1:");
    if (at == std::string::npos) {
        stop();
        throw std::runtime_error("quorral-server did not start: " + line);
    }
    m_port = std::stoi(line.substr(at + 10));
}

LocalServer::~LocalServer()
{
    stop();
}

void LocalServer::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

} // namespace quorral::test
