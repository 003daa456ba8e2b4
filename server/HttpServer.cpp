#include "HttpServer.h"

#include "ConnectionStream.h"
#include "WorkerPool.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorral::server {

HttpServer::HttpServer(ConnectionLimits limits) : m_limits(limits)
{
    new_task_queue = [this] { return new WorkerPool(m_limits.workers); };
    // SO_REUSEADDR alone lets a restart bind while old connections linger in TIME_WAIT, but
    // never while another socket listens there. SO_REUSEPORT would let it share the port.
    set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    set_tcp_nodelay(true);
    set_keep_alive_timeout(std::chrono::duration_cast<std::chrono::seconds>(m_limits.idleTimeout).count());
}

int HttpServer::bind(const std::string &host, int port, std::string &error)
{
    errno = 0;
    const int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
    if (bound < 0) {
        error = errno != 0 ? std::strerror(errno) : "the address cannot be bound";
        return -1;
    }
    // A deeper queue than the default few, so a burst of connections is not refused.
    ::listen(svr_sock_, 128);
    return bound;
}

namespace {

// After a refusal the client may still be sending the body. Closing with unread data would
// reset the connection and could take the answer with it, so the rest is read and dropped
// for a short while first.
void drainBeforeClose(int sock)
{
    ::shutdown(sock, SHUT_WR);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    char buffer[64 * 1024];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd fd{sock, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            return;
        if (::recv(sock, buffer, sizeof buffer, 0) <= 0)
            return;
    }
}

} // namespace

bool HttpServer::process_and_close_socket(socket_t sock)
{
    bool ok = true;
    bool refused = false;
    {
        ConnectionStream stream(sock, m_limits, [this] { return svr_sock_ == INVALID_SOCKET; });
        for (std::size_t i = 0; i < m_limits.requestsPerConnection && stream.waitForRequest(); ++i) {
            bool closed = false;
            ok = process_request(stream, i + 1 == m_limits.requestsPerConnection, closed, nullptr);
            if (!ok || closed || stream.mustClose())
                break;
        }
        refused = stream.mustClose();
    }
    if (refused)
        drainBeforeClose(sock);
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

} // namespace quorral::server
