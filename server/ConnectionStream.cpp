#include "ConnectionStream.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace quorral::server {
namespace {

// Waits are cut into slices so that a stopping server is noticed soon.
constexpr std::chrono::milliseconds slice{100};

int waitFor(int socket, short events, std::chrono::milliseconds timeout)
{
    pollfd fd{socket, events, 0};
    const int rc = ::poll(&fd, 1, static_cast<int>(timeout.count()));
    if (rc > 0 && (fd.revents & (POLLERR | POLLNVAL)) != 0)
        return -1;
    return rc;
}

void addressOf(int socket, bool peer, std::string &ip, int &port)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int rc = peer ? ::getpeername(socket, reinterpret_cast<sockaddr *>(&address), &length)
                        : ::getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length);
    if (rc != 0)
        return;
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto *v4 = reinterpret_cast<const sockaddr_in *>(&address);
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        port = ntohs(v4->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&address);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        port = ntohs(v6->sin6_port);
    }
    ip = text;
}

} // namespace

ConnectionStream::ConnectionStream(int socket, const ConnectionLimits &limits, std::function<bool()> stopping)
    : m_socket(socket), m_limits(limits), m_stopping(std::move(stopping))
{
    const auto ms = limits.writeTimeout.count();
    timeval timeout{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    int yes = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

ConnectionStream::Received ConnectionStream::receiveBefore(Clock::time_point until)
{
    while (true) {
        if (m_stopping())
            return Received::closed;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0)
            return Received::timedOut;
        const int rc = waitFor(m_socket, POLLIN, std::min(left, slice));
        if (rc < 0)
            return Received::closed;
        if (rc == 0)
            continue;
        const ssize_t n = ::recv(m_socket, m_buffer.data(), m_buffer.size(), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Received::closed;
        m_begin = 0;
        m_end = static_cast<std::size_t>(n);
        return Received::data;
    }
}

bool ConnectionStream::waitForRequest()
{
    if (m_mustClose)
        return false;
    if (m_begin == m_end && receiveBefore(Clock::now() + m_limits.idleTimeout) != Received::data)
        return false;
    m_deadline = Clock::now() + m_limits.requestDeadline;
    m_phase = Phase::head;
    m_headBytes = m_lines = m_lineLength = m_bodyBytes = 0;
    m_responseHead.clear();
    m_responseHeadDone = false;
    return true;
}

bool ConnectionStream::fill()
{
    switch (receiveBefore(m_deadline)) {
    case Received::data:
        return true;
    case Received::timedOut:
        refuse(408, "Request Timeout", "the request did not arrive in time");
        return false;
    case Received::closed:
        return false;
    }
    return false;
}

ssize_t ConnectionStream::read(char *ptr, size_t size)
{
    if (m_failed)
        return -1;
    if (m_begin == m_end && !fill()) {
        m_mustClose = true;
        return -1;
    }
    std::size_t n = std::min(size, m_end - m_begin);
    if (m_phase == Phase::head) {
        // The parser reads the head a byte at a time; handing out no more than the head
        // keeps the body's count exact.
        n = 1;
    }
    std::copy_n(m_buffer.data() + m_begin, n, ptr);
    m_begin += n;
    if (!account(ptr, n))
        return -1;
    return static_cast<ssize_t>(n);
}

bool ConnectionStream::account(const char *bytes, std::size_t size)
{
    if (m_phase == Phase::body) {
        m_bodyBytes += size;
        if (m_bodyBytes > m_limits.bodyBytes) {
            refuse(413, "Payload Too Large", "the request body is too large");
            return false;
        }
        return true;
    }
    for (std::size_t i = 0; i < size; ++i) {
        const char c = bytes[i];
        ++m_headBytes;
        if (c == '\n') {
            if (m_lineLength == 0 && m_lines > 0) {
                m_phase = Phase::body;
                return account(bytes + i + 1, size - i - 1);
            }
            ++m_lines;
            m_lineLength = 0;
        } else if (c != '\r') {
            ++m_lineLength;
        }
        // The first line is the request line; the others are header fields.
        if (m_headBytes > m_limits.headBytes || m_lines > m_limits.headerFields + 1) {
            refuse(431, "Request Header Fields Too Large", "the request's header is too large or has too many fields");
            return false;
        }
    }
    return true;
}

void ConnectionStream::refuse(int status, const char *reason, const char *message)
{
    m_failed = true;
    m_mustClose = true;
    const std::string body = std::string("{\"error\":\"") + message + "\"}";
    const std::string response = "HTTP/1.1 " + std::to_string(status) + " " + reason
        + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size())
        + "\r\nConnection: close\r\n\r\n" + body;
    ::send(m_socket, response.data(), response.size(), MSG_NOSIGNAL);
}

bool ConnectionStream::is_readable() const
{
    return m_begin != m_end || waitFor(m_socket, POLLIN, std::chrono::milliseconds(0)) > 0;
}

bool ConnectionStream::is_writable() const
{
    return !m_failed && waitFor(m_socket, POLLOUT, m_limits.writeTimeout) > 0;
}

ssize_t ConnectionStream::write(const char *ptr, size_t size)
{
    if (m_failed)
        return static_cast<ssize_t>(size); // already answered; the parser's own answer is dropped
    noteResponseHead(ptr, size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(m_socket, ptr + done, size - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_mustClose = true;
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(size);
}

void ConnectionStream::noteResponseHead(const char *bytes, std::size_t size)
{
    if (m_responseHeadDone)
        return;
    m_responseHead.append(bytes, std::min<std::size_t>(size, 16 * 1024));
    const auto end = m_responseHead.find("\r\n\r\n");
    if (end == std::string::npos && m_responseHead.size() < 16 * 1024)
        return;
    m_responseHeadDone = true;
    std::string head = m_responseHead.substr(0, end);
    std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
    if (head.find("\r\nconnection: close") != std::string::npos)
        m_mustClose = true;
    m_responseHead.clear();
}

void ConnectionStream::get_remote_ip_and_port(std::string &ip, int &port) const
{
    addressOf(m_socket, true, ip, port);
}

void ConnectionStream::get_local_ip_and_port(std::string &ip, int &port) const
{
    addressOf(m_socket, false, ip, port);
}

} // namespace quorral::server
