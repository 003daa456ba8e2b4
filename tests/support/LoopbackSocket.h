#pragma once

namespace quorral::test {

// A TCP connection to 127.0.0.1:`port` for raw requests, reads timing out after 30 s so a
// silent peer cannot hang a test; -1 when it cannot be made.
int connectLoopback(int port);

} // namespace quorral::test
