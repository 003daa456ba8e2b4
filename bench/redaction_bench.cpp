// Throughput of the redaction step on one core, over text that holds no secrets:
//   redaction_bench [--megabytes N] [--rounds N]
// The inputs: transcripts extracted from generated Claude Code and Codex logs (what the
// step sees before an upload), the transcripts of the real-format fixtures when they are
// there, and raw JSON Lines (every member a "name": value pair, the hardest case).
#include "LogGenerator.h"
#include "TempHome.h"
#include "privacy/Redaction.h"
#include "scan/TranscriptExtraction.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

using Clock = std::chrono::steady_clock;
using namespace quorral;

namespace {

std::string transcriptOf(const std::string &path, scan::LogFormat format)
{
    auto extracted = scan::extractConversationFromJSONL(path, 0, 1ll << 40, format);
    return extracted ? std::move(extracted->content) : std::string();
}

// As the scanners call it: on the record's own text, which is not copied when clean.
void measure(const char *what, std::string text, int rounds)
{
    if (text.empty())
        return;
    std::int64_t redacted = 0;
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i)
        redacted += privacy::redactSecretsIn(text).total();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double gigabytes = static_cast<double>(text.size()) * rounds / 1e9;
    std::printf("%-44s %8.1f MB x %d  %6.2f GB/s  (%lld values redacted per round)\n", what,
                static_cast<double>(text.size()) / 1e6, rounds, gigabytes / seconds,
                static_cast<long long>(redacted / rounds));
}

} // namespace

int main(int argc, char **argv)
{
    std::uint64_t megabytes = 64;
    int rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--megabytes") == 0)
            megabytes = std::stoull(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::stoi(argv[i + 1]);
    }
    test::TempHome home;
    loggen::LogGenerator generator(42);
    std::string transcripts, raw;
    for (int i = 0; transcripts.size() < (megabytes << 20); ++i) {
        const bool codex = i % 3 == 2;
        const std::string log = codex ? generator.codexRollout(2u << 20) : generator.claudeSession(2u << 20);
        const std::string path = home.write("log" + std::to_string(i) + ".jsonl", log);
        transcripts += transcriptOf(path, codex ? scan::LogFormat::codex : scan::LogFormat::chat);
        if (raw.size() < (megabytes << 20))
            raw += log;
        std::filesystem::remove(path);
    }
    std::string fixtures;
    const auto fixtureRoot = test::fixturesDirectory();
    for (const char *folder : {"claude-code", "codex"}) {
        std::error_code error;
        for (const auto &entry : std::filesystem::directory_iterator(fixtureRoot + "/" + folder, error)) {
            if (entry.path().extension() == ".jsonl")
                fixtures += transcriptOf(entry.path().string(),
                                         std::string(folder) == "codex" ? scan::LogFormat::codex : scan::LogFormat::chat);
        }
    }
    // REDACTION_BENCH_DUMP=PREFIX writes the inputs out, to look at what the anchors meet.
    if (const char *dump = std::getenv("REDACTION_BENCH_DUMP")) {
        std::ofstream(std::string(dump) + "generated.txt", std::ios::binary) << transcripts;
        std::ofstream(std::string(dump) + "fixtures.txt", std::ios::binary) << fixtures;
    }
    measure("generated transcripts", transcripts, rounds);
    measure("real-format fixture transcripts", fixtures, rounds * 20);
    measure("raw JSON Lines logs", raw, rounds);
    return 0;
}
