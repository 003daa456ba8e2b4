// quorral-server: the local memory service, on a loopback port.
#include "HttpServer.h"
#include "MemoryService.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <pwd.h>
#include <string>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

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

// Creates the missing directories on the way to the database owner-only; directories that
// already exist (the user's data folder, /tmp) are left as they are.
void createPrivateDirectories(const std::filesystem::path &directory)
{
    if (directory.empty() || std::filesystem::exists(directory))
        return;
    createPrivateDirectories(directory.parent_path());
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::filesystem::filesystem_error("cannot create the database directory", directory,
                                                std::error_code(errno, std::generic_category()));
}

int usage(const std::string &problem)
{
    std::cerr << "quorral-server: " << problem << "\n"
              << "usage: quorral-server [--port N] [--db PATH] [--request-timeout SECONDS] [--test-routes]\n";
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    int port = 8787;
    std::string database = defaultDatabasePath();
    quorral::server::ServiceOptions options;
    quorral::server::ConnectionLimits limits;
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
        } else if (arg == "--request-timeout" && i + 1 < argc) {
            try {
                limits.requestDeadline = std::chrono::milliseconds(static_cast<long>(std::stod(argv[++i]) * 1000));
            } catch (const std::exception &) {
                return usage("--request-timeout needs a number of seconds");
            }
            if (limits.requestDeadline.count() <= 0)
                return usage("--request-timeout needs a positive number of seconds");
        } else if (arg == "--test-routes") {
            options.testRoutes = true;
        } else {
            return usage("unknown option '" + arg + "'");
        }
    }

    try {
        // Nothing the service writes is for other users.
        ::umask(077);
        createPrivateDirectories(std::filesystem::absolute(database).parent_path());
        quorral::server::HttpServer server(limits);
        // Loopback only: the service holds the user's conversations. The port is taken before
        // the database is opened, so a second instance stops without touching it.
        const char *host = "127.0.0.1";
        const int requested = port;
        std::string error;
        port = server.bind(host, requested, error);
        if (port < 0) {
            std::cerr << "quorral-server: cannot listen on " << host << ":" << requested << ": " << error
                      << " (is another quorral-server running there?)\n";
            return 1;
        }
        quorral::server::MemoryService service(database, options);
        service.registerRoutes(server);
        // SIGINT and SIGTERM are taken by one thread, which asks the server to stop until it
        // has: a signal that comes before the server runs is not lost. They are blocked before
        // any other thread starts, so every thread inherits the mask.
        sigset_t stopSignals;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGINT);
        sigaddset(&stopSignals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
        std::signal(SIGPIPE, SIG_IGN);
        std::atomic<bool> finished = false;
        std::thread stopper([&] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            while (!finished) {
                server.stop();
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        std::cout << "quorral-server listening on http://" << host << ":" << port << " (database " << database << ")"
                  << std::endl;
        server.listen_after_bind();
        finished = true;
        pthread_kill(stopper.native_handle(), SIGTERM); // wakes it when no signal came
        stopper.join();
    } catch (const std::exception &error) {
        std::cerr << "quorral-server: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
