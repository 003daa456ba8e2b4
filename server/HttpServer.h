#pragma once

#include "ConnectionLimits.h"

#include <httplib.h>

#include <string>

namespace quorral::server {

// The HTTP server with the connection limits applied: every connection is read through a
// ConnectionStream, workers are started as connections need them, and the listening port is
// bound for this process alone (a second instance fails to bind instead of sharing it).
class HttpServer : public httplib::Server {
public:
    explicit HttpServer(ConnectionLimits limits = {});

    // Binds `host`:`port` (0 for any free port); the port, or -1 with `error` set.
    int bind(const std::string &host, int port, std::string &error);

private:
    bool process_and_close_socket(socket_t sock) override;

    ConnectionLimits m_limits;
};

} // namespace quorral::server
