// quorral-server: the local memory service, on a loopback port.
#include "MemoryService.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace {

httplib::Server *runningServer = nullptr;

void stopOnSignal(int)
{
    if (runningServer != nullptr)
        runningServer->stop();
}

std::string defaultDatabasePath()
{
    const char *data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data != nullptr && data[0] == '/') {
        base = data;
    } else {
        const char *home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') {
            const passwd *pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : "/tmp";
        }
        base = std::string(home) + "/.local/share";
    }
    return base + "/quorral/server.db";
}

int usage(const std::string &problem)
{
    std::cerr << "quorral-server: " << problem << "\n"
              << "usage: quorral-server [--port N] [--db PATH] [--test-routes]\n";
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    int port = 8787;
    std::string database = defaultDatabasePath();
    quorral::server::ServiceOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            try {
                port = std::stoi(argv[++i]);
            } catch (const std::exception &) {
                return usage("--port needs a number");
            }
            if (port < 0 || port > 65535)
                return usage("--port needs a number from 0 to 65535");
        } else if (arg == "--db" && i + 1 < argc) {
            database = argv[++i];
        } else if (arg == "--test-routes") {
            options.testRoutes = true;
        } else {
            return usage("unknown option '" + arg + "'");
        }
    }

    try {
        std::filesystem::create_directories(std::filesystem::path(database).parent_path());
        quorral::server::MemoryService service(database, options);
        httplib::Server server;
        service.registerRoutes(server);

        // Loopback only: the service holds the user's conversations.
        const char *host = "127.0.0.1";
        const int requested = port;
        if (requested == 0)
            port = server.bind_to_any_port(host);
        else if (!server.bind_to_port(host, requested))
            port = -1;
        if (port < 0) {
            std::cerr << "quorral-server: cannot listen on " << host << ":" << requested
                      << " (is another service running there?)\n";
            return 1;
        }
        runningServer = &server;
        std::signal(SIGPIPE, SIG_IGN);
        std::signal(SIGINT, stopOnSignal);
        std::signal(SIGTERM, stopOnSignal);
        std::cout << "quorral-server listening on http://" << host << ":" << port << " (database " << database << ")"
                  << std::endl;
        server.listen_after_bind();
        runningServer = nullptr;
    } catch (const std::exception &error) {
        std::cerr << "quorral-server: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
