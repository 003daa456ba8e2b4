#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace quorral::loggen {

// What to put into a generated home directory.
struct HomeSpec {
    std::uint64_t claudeBytes = 64ull << 20; // total size of the Claude Code session logs
    int projects = 8;
    // Share of sessions made larger than 10 MiB (their size is drawn from 11 to 24 MiB).
    double largeSessionShare = 0.02;
    int copilotSessions = 6;
    int cursorTranscripts = 6;
    // Codex rollouts and Gemini CLI chats (half JSON Lines, half whole documents); none by default.
    std::uint64_t codexBytes = 0;
    std::uint64_t geminiBytes = 0;
};

struct HomeSummary {
    int claudeSessions = 0;
    std::uint64_t claudeBytes = 0;
    int otherFiles = 0;
    int codexSessions = 0;
    std::uint64_t codexBytes = 0;
    int geminiChats = 0;
    std::uint64_t geminiBytes = 0;
};

// Deterministic for a seed: the same seed and spec write the same bytes.
class LogGenerator {
public:
    explicit LogGenerator(std::uint64_t seed);

    // One Claude Code session log of about `targetBytes`: prompts, assistant turns with
    // thinking, text and tool calls, tool results, images, summaries and non-ASCII text.
    std::string claudeSession(std::uint64_t targetBytes);
    // One Copilot chat-session log (a "kind" 0 snapshot, then later "kind" 1 patches).
    std::string copilotSession(int requests);
    // A Cursor agent transcript in the shape of a JSON Lines conversation log.
    std::string cursorTranscript(int turns);

    // Writes the logs and instruction files of every supported tool below `home`.
    HomeSummary populateHome(const std::string &home, const HomeSpec &spec);

    // One Codex rollout of about `targetBytes`: session meta, then turns of user message,
    // reasoning, tool calls with their output, assistant message and their events.
    std::string codexRollout(std::uint64_t targetBytes);
    // One Gemini CLI chat of about `targetBytes`, as JSON Lines (with "$set" lines and
    // messages written twice) or as one JSON document.
    std::string geminiChat(std::uint64_t targetBytes, bool jsonLines);

    // Appends a few turns in Claude Code's format (to grow an existing log).
    std::string claudeTurns(int turns);

private:
    std::string words(int min, int max);
    std::string prose(int minSentences, int maxSentences);
    std::string codeBlock();
    std::string pathListing();
    std::string fileContent(std::size_t approxBytes);
    std::string base64(std::size_t bytes);
    std::string uuid();
    std::string timestamp();
    std::string userPromptLine();
    std::string assistantLine(bool withTool, std::string &toolId);
    std::string toolResultLine(const std::string &toolId);
    std::string imageLine();
    std::string envelope(const char *type, const std::string &messageJson);
    int pick(int min, int max);
    bool chance(double p);

    std::mt19937_64 m_rng;
    std::string m_sessionId;
    std::string m_cwd;
    std::int64_t m_clock = 1765000000; // seconds, advances with every line
};

} // namespace quorral::loggen
