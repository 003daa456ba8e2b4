// Local service benchmark, with no client library in between: import throughput for 50-file
// batches of 20 KB transcripts (new files, a second increment of each, the same batches sent
// again), then the latency of a normal request (GET /api/v1/settings) on a fresh connection
// at rest, with 40 idle connections open, and while one hostile request is in flight, next
// to the service's peak resident memory (VmHWM, a fresh service per hostile request).
//
//   server_bench SERVER_EXECUTABLE [--batches N]
#include "LocalServer.h"
#include "LoopbackSocket.h"
#include "ServicePages.h"
#include "TempHome.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <zlib.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace quorral;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long statusField(pid_t pid, const std::string &field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field + ":"))
            return std::stol(line.substr(field.size() + 1)) / 1024;
    }
    return -1;
}

std::string newKey(int port)
{
    httplib::Client http("127.0.0.1", port);
    const auto login = json::parse(http.Post("/api/v1/auth/device-login", "{}", "application/json")->body);
    const std::string url = login.at("login_url");
    test::approveDeviceLogin(port, url.substr(url.find("user_code=") + 10));
    return json::parse(http.Get("/api/v1/auth/device-verify?code=" + login.at("device_code").get<std::string>())->body)
        .at("api_key");
}

bool sendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The status line's code, or 0 when the service closed without one.
int readStatus(int fd)
{
    timeval timeout{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char buffer[64] = {};
    const ssize_t n = ::recv(fd, buffer, sizeof buffer - 1, 0);
    return n > 12 ? std::atoi(buffer + 9) : 0;
}

struct Latency {
    double median = 0;
    double max = 0;
};

// A normal request on a fresh connection, `count` times, in milliseconds.
Latency normalRequests(int port, const std::string &key, int count, const std::function<bool()> &keepGoing = {})
{
    std::vector<double> times;
    for (int i = 0; i < count || (keepGoing && keepGoing() && i < 2000); ++i) {
        httplib::Client http("127.0.0.1", port);
        http.set_read_timeout(30);
        const auto start = Clock::now();
        const auto response = http.Get("/api/v1/settings", {{"X-Quorral-Key", key}});
        times.push_back(response && response->status == 200 ? seconds(start) * 1e3 : 1e9);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

std::string importBody(int batch, int increment, const std::string &transcript)
{
    json files = json::array();
    for (int i = 0; i < 50; ++i) {
        files.push_back({{"path", "/home/ann/.claude/projects/-p-app/" + std::to_string(batch * 50 + i) + ".jsonl"},
                         {"content", "increment " + std::to_string(increment) + "\n\n" + transcript},
                         {"context_tag", "app"}});
    }
    return json{{"source", "claude-code"}, {"files", files}}.dump();
}

void importPhase(int port, const std::string &key, const std::vector<std::string> &bodies, const char *label)
{
    httplib::Client http("127.0.0.1", port);
    http.set_read_timeout(60);
    const auto start = Clock::now();
    std::size_t accepted = 0;
    for (const auto &body : bodies) {
        const auto response = http.Post("/api/v1/import", {{"X-Quorral-Key", key}}, body, "application/json");
        if (response && response->status == 200)
            accepted += 50;
    }
    const double time = seconds(start);
    std::printf("import, %-28s %zu files in %.2f s: %.0f files/s, %.0f requests/s\n", label, accepted, time,
                accepted / time, bodies.size() / time);
}

std::string gzipOfZeros(std::size_t size)
{
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    const std::string zeros(1u << 20, '\0');
    std::string out;
    char buffer[1 << 16];
    for (std::size_t done = 0; done <= size; done += zeros.size()) {
        const bool last = done + zeros.size() > size;
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.data()));
        stream.avail_in = last ? 0 : static_cast<uInt>(zeros.size());
        do {
            stream.next_out = reinterpret_cast<Bytef *>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            out.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return out;
}

std::string head(const std::string &key, const std::string &extra)
{
    return "POST /api/v1/import HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Quorral-Key: " + key
        + "\r\nContent-Type: application/json\r\n" + extra;
}

struct Hostile {
    const char *name;
    // Sends the request on `fd` (the service on `port`, with `key`); returns when it is all sent.
    std::function<void(int fd, const std::string &key, const std::atomic<bool> &stop)> send;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: server_bench SERVER_EXECUTABLE [--batches N]\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    int batches = 40;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--batches")
            batches = std::stoi(argv[i + 1]);
    }
    std::string transcript;
    while (transcript.size() < 20000)
        transcript += "User: how do I keep the cache warm between runs?\n\nAssistant: keep it on disk and load it lazily.\n\n";

    {
        test::TempHome home;
        test::LocalServer server(argv[1], home / "server.db", false);
        const std::string key = newKey(server.port());
        std::vector<std::string> first, second;
        for (int b = 0; b < batches; ++b) {
            first.push_back(importBody(b, 1, transcript));
            second.push_back(importBody(b, 2, transcript));
        }
        importPhase(server.port(), key, first, "new files:");
        importPhase(server.port(), key, second, "a second increment of each:");
        importPhase(server.port(), key, second, "the same batches again:");
        std::printf("resident after the imports: %ld MiB (peak %ld MiB)\n", statusField(server.pid(), "VmRSS"),
                    statusField(server.pid(), "VmHWM"));

        Latency rest = normalRequests(server.port(), key, 50);
        std::vector<int> idle;
        for (int i = 0; i < 40; ++i)
            idle.push_back(quorral::test::connectLoopback(server.port()));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Latency crowded = normalRequests(server.port(), key, 20);
        for (int fd : idle)
            ::close(fd);
        std::printf("GET /api/v1/settings on a fresh connection: at rest median %.2f ms, max %.2f ms; with 40 idle "
                    "connections median %.2f ms, max %.2f ms\n",
                    rest.median, rest.max, crowded.median, crowded.max);
    }

    const std::size_t cap = 32u << 20;
    const std::string bomb = gzipOfZeros(1u << 30);
    const std::vector<Hostile> hostile = {
        {"32 MiB of '[' (nesting)", [&](int fd, const std::string &key, const std::atomic<bool> &) {
             sendAll(fd, head(key, "Content-Length: " + std::to_string(cap - 1) + "\r\n\r\n"));
             sendAll(fd, std::string(cap - 1, '['));
         }},
        {"32 MiB of [0,0,...] (elements)", [&](int fd, const std::string &key, const std::atomic<bool> &) {
             std::string body = "[0";
             while (body.size() + 3 < cap)
                 body += ",0";
             body += "]";
             sendAll(fd, head(key, "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n") + body);
         }},
        {"gzip of 1 GiB of zeros", [&](int fd, const std::string &key, const std::atomic<bool> &) {
             sendAll(fd, head(key, "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(bomb.size()) + "\r\n\r\n") + bomb);
         }},
        {"chunked body of 256 MiB", [&](int fd, const std::string &key, const std::atomic<bool> &stop) {
             sendAll(fd, head(key, "Transfer-Encoding: chunked\r\n\r\n"));
             const std::string chunk = "100000\r\n" + std::string(1u << 20, 'x') + "\r\n";
             for (int i = 0; i < 256 && !stop; ++i) {
                 if (!sendAll(fd, chunk))
                     return;
             }
             sendAll(fd, "0\r\n\r\n");
         }},
        {"20,000 header fields", [&](int fd, const std::string &key, const std::atomic<bool> &) {
             std::string request = "GET /api/v1/stats HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Quorral-Key: " + key + "\r\n";
             for (int i = 0; i < 20000; ++i)
                 request += "X-Filler-" + std::to_string(i) + ": " + std::string(80, 'f') + "\r\n";
             sendAll(fd, request + "\r\n");
         }},
        {"headers one byte per 50 ms for 40 s", [&](int fd, const std::string &, const std::atomic<bool> &stop) {
             const std::string request = "GET /api/v1/stats HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: "
                 + std::string(2000, 's');
             for (std::size_t i = 0; i < request.size() && !stop && i < 800; ++i) {
                 if (!sendAll(fd, request.substr(i, 1)))
                     return;
                 std::this_thread::sleep_for(std::chrono::milliseconds(50));
             }
         }},
    };
    for (const auto &h : hostile) {
        test::TempHome home;
        test::LocalServer server(argv[1], home / "server.db", false);
        const std::string key = newKey(server.port());
        const long before = statusField(server.pid(), "VmRSS");
        std::atomic<bool> stop = false, done = false;
        int status = -1;
        double answeredAfter = 0;
        std::thread attacker([&] {
            const int fd = quorral::test::connectLoopback(server.port());
            const auto start = Clock::now();
            std::thread sender([&] { h.send(fd, key, stop); });
            status = readStatus(fd);
            answeredAfter = seconds(start);
            stop = true;
            ::shutdown(fd, SHUT_RDWR);
            sender.join();
            ::close(fd);
            done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const Latency during = normalRequests(server.port(), key, 10, [&] { return !done.load(); });
        attacker.join();
        std::printf("hostile: %-36s -> %s %d after %.2f s; resident %ld MiB before, peak %ld MiB; normal request "
                    "meanwhile median %.2f ms, max %.2f ms\n",
                    h.name, status > 0 ? "status" : "closed, status", status, answeredAfter, before,
                    statusField(server.pid(), "VmHWM"), during.median, during.max);
        std::fflush(stdout);
    }
    return 0;
}
