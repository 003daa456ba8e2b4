#pragma once

#include <string>
#include <sys/types.h>

namespace quorral::test {

// The real quorral-server on a free loopback port with a database of its own,
// started for a test and stopped (SIGTERM, then waited for) when the object goes.
class LocalServer {
public:
    // `port` 0 takes a free one; another brings a stopped server back where it was.
    explicit LocalServer(const std::string &executable, const std::string &databasePath, bool testRoutes = true,
                         int port = 0);
    ~LocalServer();
    LocalServer(const LocalServer &) = delete;
    LocalServer &operator=(const LocalServer &) = delete;

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    void stop();

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

} // namespace quorral::test
