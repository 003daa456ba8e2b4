#pragma once

#include "ConnectionLimits.h"

#include <httplib.h>

#include <array>
#include <chrono>
#include <functional>
#include <string>

namespace quorral::server {

// One client connection as the HTTP parser reads it, with the connection's limits applied on
// the way: a request that breaks one is answered here (408, 413 or 431), the parser's own
// answer is dropped, and the connection is closed afterwards.
class ConnectionStream : public httplib::Stream {
public:
    ConnectionStream(int socket, const ConnectionLimits &limits, std::function<bool()> stopping);

    // Waits for the next request's first byte; false when the client went away, stayed idle
    // for too long or the server is stopping. Starts the request's deadline and counters.
    bool waitForRequest();
    // True once the connection must not carry another request.
    bool mustClose() const { return m_mustClose; }

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char *ptr, size_t size) override;
    ssize_t write(const char *ptr, size_t size) override;
    void get_remote_ip_and_port(std::string &ip, int &port) const override;
    void get_local_ip_and_port(std::string &ip, int &port) const override;
    socket_t socket() const override { return m_socket; }

private:
    using Clock = std::chrono::steady_clock;
    enum class Phase { head, body };

    enum class Received { data, timedOut, closed };
    // Waits for bytes until `until` and takes them into the buffer.
    Received receiveBefore(Clock::time_point until);
    bool fill();
    // Counts what the parser consumed; false when that broke a limit (and was answered).
    bool account(const char *bytes, std::size_t size);
    void refuse(int status, const char *reason, const char *message);
    void noteResponseHead(const char *bytes, std::size_t size);

    int m_socket;
    const ConnectionLimits &m_limits;
    std::function<bool()> m_stopping;
    std::array<char, 16 * 1024> m_buffer{};
    std::size_t m_begin = 0;
    std::size_t m_end = 0;

    Clock::time_point m_deadline;
    Phase m_phase = Phase::head;
    std::size_t m_headBytes = 0;
    std::size_t m_lines = 0;
    std::size_t m_lineLength = 0;
    std::size_t m_bodyBytes = 0;
    bool m_failed = false;
    bool m_mustClose = false;
    std::string m_responseHead; // the start of the current answer, to see "Connection: close"
    bool m_responseHeadDone = false;
};

} // namespace quorral::server
