// Client and local-service benchmark: import throughput in files per second for 50-file
// batches of 20 KB transcripts, and the client's time per request on loopback next to a
// bare HTTP client doing the same request.
//
//   api_bench SERVER_EXECUTABLE [--files N] [--requests N]
#include "LocalServer.h"
#include "ServicePages.h"
#include "TempHome.h"
#include "api/APIClient.h"
#include "async/WaitFor.h"
#include "credentials/KeychainHelper.h"
#include "settings/MemoryDefaultsStore.h"

#include <QCoreApplication>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace quorral;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: api_bench SERVER_EXECUTABLE [--files N] [--requests N]\n");
        return 2;
    }
    std::size_t files = 5000;
    int requests = 500;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--files")
            files = std::stoul(argv[i + 1]);
        else if (arg == "--requests")
            requests = std::stoi(argv[i + 1]);
    }
    QCoreApplication app(argc, argv);
    test::TempHome home;
    test::LocalServer server(argv[1], home / "server.db", false);

    httplib::Client http("127.0.0.1", server.port());
    const auto login = nlohmann::json::parse(http.Post("/api/v1/auth/device-login", "{}", "application/json")->body);
    const std::string url = login.at("login_url");
    test::approveDeviceLogin(server.port(), url.substr(url.find("user_code=") + 10));
    const std::string key = nlohmann::json::parse(
        http.Get("/api/v1/auth/device-verify?code=" + login.at("device_code").get<std::string>())->body).at("api_key");

    settings::MemoryDefaultsStore defaults;
    credentials::NoLegacyKeychain legacy;
    credentials::KeychainHelper keychain(home.path(), legacy);
    api::LoginNotifier notifier;
    api::APIClient client(api::Config::forOrigin(QUrl(QString::fromStdString(server.origin()))), keychain, defaults, notifier);
    client.setApiKey(key);

    std::vector<api::ScannedFilePayload> payloads;
    std::string transcript;
    while (transcript.size() < 20000)
        transcript += "User: how do I keep the cache warm between runs?\n\nAssistant: keep it on disk and load it lazily.\n\n";
    for (std::size_t i = 0; i < files; ++i)
        payloads.push_back({"/home/ann/.claude/projects/-p-app/" + std::to_string(i) + ".jsonl", transcript, "app"});
    const auto start = Clock::now();
    const auto uploaded = async::waitFor(client.uploadScannedFiles(std::move(payloads), "claude-code"));
    const double importTime = seconds(start);
    std::printf("import: %zu of %zu files of %zu bytes in batches of 50: %.2f s, %.0f files/s, %.1f MB/s\n", uploaded, files,
                transcript.size(), importTime, uploaded / importTime, uploaded * transcript.size() / importTime / 1e6);

    std::vector<double> viaClient, viaBare;
    httplib::Headers headers{{"X-Quorral-Key", key}, {"Content-Type", "application/json"}, {"X-Quorral-Source", "desktop-app"}};
    for (int i = 0; i < requests; ++i) {
        auto t = Clock::now();
        async::waitFor(client.getSettings());
        viaClient.push_back(seconds(t) * 1e6);
        t = Clock::now();
        const auto response = http.Get("/api/v1/settings", headers);
        [[maybe_unused]] const auto parsed = nlohmann::json::parse(response->body);
        viaBare.push_back(seconds(t) * 1e6);
    }
    std::printf("GET /v1/settings, median of %d: APIClient %.0f µs, bare keep-alive HTTP client %.0f µs, overhead %.0f µs\n",
                requests, median(viaClient), median(viaBare), median(viaClient) - median(viaBare));
    return 0;
}
