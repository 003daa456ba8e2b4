#pragma once

#include <chrono>
#include <cstddef>

namespace quorral::server {

// What one client connection may ask of the service.
struct ConnectionLimits {
    std::size_t headBytes = 32 * 1024; // request line and header fields together
    std::size_t headerFields = 100;
    std::size_t bodyBytes = (32u << 20) + (1u << 20); // on the wire, chunk framing included
    // From a request's first byte to its last: a client sending a byte now and then cannot
    // keep a worker for longer.
    std::chrono::milliseconds requestDeadline{20'000};
    std::chrono::milliseconds idleTimeout{5'000}; // waiting for the next request
    std::chrono::milliseconds writeTimeout{10'000};
    std::size_t requestsPerConnection = 100;
    std::size_t workers = 128;
};

} // namespace quorral::server
