#include "LogGenerator.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace quorral::loggen {
namespace {

using nlohmann::json;

constexpr std::array<const char *, 48> vocabulary{
    "the", "function", "returns", "a", "value", "when", "cache", "is", "empty", "we", "should", "refactor",
    "parser", "test", "fails", "because", "of", "timeout", "build", "module", "config", "user", "request", "handler",
    "数据", "函数", "测试", "缓存", "配置", "问题", "naïve", "café", "Straße", "résumé", "🚀", "✅", "👍🏽", "données",
    "über", "Привет", "файл", "ошибка", "こんにちは", "ファイル", "설정", "index", "query", "schema"};

constexpr std::array<const char *, 8> languages{"swift", "cpp", "python", "typescript", "rust", "bash", "json", ""};

constexpr std::array<const char *, 6> toolNames{"Read", "Edit", "Bash", "Grep", "Glob", "Write"};

void writeFile(const std::filesystem::path &path, const std::string &content)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace

LogGenerator::LogGenerator(std::uint64_t seed) : m_rng(seed) {}

int LogGenerator::pick(int min, int max)
{
    return std::uniform_int_distribution<int>(min, max)(m_rng);
}

bool LogGenerator::chance(double p)
{
    return std::bernoulli_distribution(p)(m_rng);
}

std::string LogGenerator::words(int min, int max)
{
    std::string out;
    const int n = pick(min, max);
    for (int i = 0; i < n; ++i) {
        if (i > 0)
            out += ' ';
        out += vocabulary[static_cast<std::size_t>(pick(0, static_cast<int>(vocabulary.size()) - 1))];
    }
    return out;
}

std::string LogGenerator::prose(int minSentences, int maxSentences)
{
    std::string out;
    const int n = pick(minSentences, maxSentences);
    for (int i = 0; i < n; ++i) {
        std::string sentence = words(5, 18);
        sentence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(sentence[0])));
        out += sentence + (chance(0.1) ? "?\n\n" : ". ");
    }
    return out;
}

std::string LogGenerator::codeBlock()
{
    std::string out = std::string("```") + languages[static_cast<std::size_t>(pick(0, 7))] + "\n";
    const int lines = pick(3, 40);
    for (int i = 0; i < lines; ++i)
        out += "    let x" + std::to_string(i) + " = compute(\"" + words(1, 3) + "\") // " + words(1, 4) + "\n";
    return out + "```\n";
}

std::string LogGenerator::pathListing()
{
    std::string out;
    const int lines = pick(3, 12);
    for (int i = 0; i < lines; ++i)
        out += (chance(0.5) ? "├── src/" : "/home/ann/code/app/src/") + std::to_string(i) + "/module.swift\n";
    return out;
}

std::string LogGenerator::fileContent(std::size_t approxBytes)
{
    std::string out;
    int line = 1;
    while (out.size() < approxBytes) {
        out += std::to_string(line++) + "\t" + (chance(0.3) ? "    // " + words(3, 10) : "    return \"" + words(1, 6) + "\";")
            + "\n";
    }
    return out;
}

std::string LogGenerator::base64(std::size_t bytes)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out(bytes, 'A');
    for (auto &c : out)
        c = alphabet[m_rng() % 64];
    return out;
}

std::string LogGenerator::uuid()
{
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-4%03x-8%03x-%012llx", static_cast<unsigned>(m_rng()),
                  static_cast<unsigned>(m_rng() & 0xffff), static_cast<unsigned>(m_rng() & 0xfff),
                  static_cast<unsigned>(m_rng() & 0xfff), static_cast<unsigned long long>(m_rng() & 0xffffffffffffull));
    return text;
}

std::string LogGenerator::timestamp()
{
    m_clock += pick(1, 90);
    const std::time_t t = static_cast<std::time_t>(m_clock);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, pick(0, 999));
    return text;
}

std::string LogGenerator::envelope(const char *type, const std::string &messageJson)
{
    // Field order as the tool writes it: bookkeeping first, then type and message.
    return "{\"parentUuid\":\"" + uuid() + "\",\"isSidechain\":false,\"userType\":\"external\",\"cwd\":\"" + m_cwd
        + "\",\"sessionId\":\"" + m_sessionId + "\",\"version\":\"2.1.114\",\"gitBranch\":\"main\",\"type\":\"" + type
        + "\",\"message\":" + messageJson + ",\"uuid\":\"" + uuid() + "\",\"timestamp\":\"" + timestamp() + "\"}\n";
}

std::string LogGenerator::userPromptLine()
{
    std::string text = prose(1, 4);
    if (chance(0.2))
        text += "\n" + codeBlock();
    if (chance(0.05))
        text = "<command-name>/clear</command-name>";
    return envelope("user", json{{"role", "user"}, {"content", text}}.dump());
}

std::string LogGenerator::assistantLine(bool withTool, std::string &toolId)
{
    json content = json::array();
    if (chance(0.4))
        content.push_back({{"type", "thinking"}, {"thinking", prose(2, 12)}, {"signature", base64(200)}});
    std::string text = chance(0.15) ? "Let me read the file first." : prose(1, 6);
    if (chance(0.25))
        text += "\n\n" + codeBlock() + prose(1, 2);
    if (chance(0.1))
        text += "\n" + pathListing();
    content.push_back({{"type", "text"}, {"text", text}});
    if (withTool) {
        toolId = "toolu_" + base64(24);
        const char *tool = toolNames[static_cast<std::size_t>(pick(0, 5))];
        content.push_back({{"type", "tool_use"},
                           {"id", toolId},
                           {"name", tool},
                           {"input", {{"file_path", m_cwd + "/src/" + std::to_string(pick(1, 99)) + ".swift"},
                                      {"command", "swift build 2>&1 | tail -20"}}}});
    }
    json message{{"id", "msg_" + base64(20)},
                 {"type", "message"},
                 {"role", "assistant"},
                 {"model", "claude-opus-4"},
                 {"content", content},
                 {"stop_reason", withTool ? "tool_use" : "end_turn"},
                 {"usage", {{"input_tokens", pick(10, 5000)}, {"output_tokens", pick(10, 3000)},
                            {"cache_read_input_tokens", pick(0, 90000)}}}};
    return envelope("assistant", message.dump());
}

std::string LogGenerator::toolResultLine(const std::string &toolId)
{
    const auto size = static_cast<std::size_t>(pick(1, 60)) * 512;
    json content = json::array({{{"tool_use_id", toolId}, {"type", "tool_result"}, {"content", fileContent(size)}}});
    return envelope("user", json{{"role", "user"}, {"content", content}}.dump());
}

std::string LogGenerator::imageLine()
{
    json image{{"type", "image"},
               {"source", {{"type", "base64"}, {"media_type", "image/png"},
                           {"data", base64(static_cast<std::size_t>(pick(20, 200)) * 1024)}}}};
    json content = json::array({image, {{"type", "text"}, {"text", "Here is a screenshot of the bug: " + words(4, 12)}}});
    return envelope("user", json{{"role", "user"}, {"content", content}}.dump());
}

std::string LogGenerator::claudeTurns(int turns)
{
    std::string out;
    for (int i = 0; i < turns; ++i) {
        out += chance(0.03) ? imageLine() : userPromptLine();
        const int steps = pick(0, 4);
        for (int s = 0; s < steps; ++s) {
            std::string toolId;
            out += assistantLine(true, toolId);
            out += toolResultLine(toolId);
        }
        std::string none;
        out += assistantLine(false, none);
    }
    return out;
}

std::string LogGenerator::claudeSession(std::uint64_t targetBytes)
{
    m_sessionId = uuid();
    m_cwd = "/home/ann/code/app" + std::to_string(pick(1, 9));
    std::string out = "{\"type\":\"permission-mode\",\"permissionMode\":\"acceptEdits\",\"sessionId\":\"" + m_sessionId + "\"}\n";
    out += "{\"type\":\"summary\",\"summary\":\"" + words(3, 8) + "\",\"leafUuid\":\"" + uuid() + "\"}\n";
    while (out.size() < targetBytes) {
        out += claudeTurns(1);
        if (chance(0.05))
            out += "{\"type\":\"file-history-snapshot\",\"messageId\":\"" + uuid() + "\",\"snapshot\":{\"trackedFileBackups\":{}}}\n";
    }
    return out;
}

std::string LogGenerator::copilotSession(int requests)
{
    json list = json::array();
    for (int i = 0; i < requests; ++i) {
        json response = json::array();
        response.push_back({{"value", prose(1, 5)}});
        if (chance(0.5))
            response.push_back({{"kind", "inlineReference"}, {"inlineReference", {{"path", "/src/a.ts"}}}});
        if (chance(0.3))
            response.push_back({{"value", {{"content", json::array({{{"value", codeBlock()}}, {{"kind", "x"}}})}}}});
        list.push_back({{"requestId", "request_" + uuid()},
                        {"message", {{"text", prose(1, 3)}, {"parts", json::array()}}},
                        {"response", response}});
    }
    json snapshot{{"kind", 0}, {"v", {{"version", 3}, {"sessionId", uuid()}, {"requests", list}}}};
    std::string out = snapshot.dump() + "\n";
    out += json{{"kind", 1}, {"k", json::array({"requests", 0, "result"})}, {"v", {{"timings", {{"totalElapsed", 1200}}}}}}.dump()
        + "\n";
    return out;
}

std::string LogGenerator::cursorTranscript(int turns)
{
    std::string out;
    for (int i = 0; i < turns; ++i) {
        out += json{{"type", "user"}, {"message", {{"content", json::array({{{"type", "text"}, {"text", prose(1, 3)}}})}}}}.dump() + "\n";
        out += json{{"type", "assistant"}, {"message", {{"content", json::array({{{"type", "text"}, {"text", prose(1, 5)}},
                                                                             {{"type", "tool_use"}, {"name", "edit"}}})}}}}
                   .dump()
            + "\n";
    }
    return out;
}

std::string LogGenerator::codexRollout(std::uint64_t targetBytes)
{
    const std::string id = uuid();
    const auto record = [&](const char *type, json payload) {
        return json{{"timestamp", timestamp()}, {"type", type}, {"payload", std::move(payload)}}.dump() + "\n";
    };
    std::string out = record("session_meta", {{"id", id}, {"timestamp", timestamp()}, {"cwd", m_cwd},
                                              {"originator", "codex_cli_rs"}, {"cli_version", "0.58.0"},
                                              {"git", {{"branch", "main"}, {"commit_hash", uuid()}}}});
    out += record("response_item", {{"type", "message"}, {"role", "user"},
                                    {"content", json::array({{{"type", "input_text"},
                                                              {"text", "<environment_context>\n  <cwd>" + m_cwd + "</cwd>\n</environment_context>"}}})}});
    while (out.size() < targetBytes) {
        const std::string prompt = prose(1, 3);
        out += record("response_item", {{"type", "message"}, {"role", "user"},
                                        {"content", json::array({{{"type", "input_text"}, {"text", prompt}}})}});
        out += record("event_msg", {{"type", "user_message"}, {"message", prompt}});
        out += record("turn_context", {{"cwd", m_cwd}, {"approval_policy", "never"}, {"model", "gpt-5.1-codex"}});
        for (int step = pick(1, 4); step > 0; --step) {
            out += record("response_item", {{"type", "reasoning"},
                                            {"summary", json::array({{{"type", "summary_text"}, {"text", "**" + words(2, 5) + "**"}}})},
                                            {"encrypted_content", base64(static_cast<std::size_t>(pick(200, 2000)))}});
            const std::string call = "call_" + uuid();
            out += record("response_item", {{"type", "function_call"}, {"name", "shell"},
                                            {"arguments", json{{"command", {"bash", "-lc", "sed -n '1,200p' src/" + words(1, 1) + ".ts"}}}.dump()},
                                            {"call_id", call}});
            out += record("response_item", {{"type", "function_call_output"}, {"call_id", call},
                                            {"output", json{{"output", fileContent(static_cast<std::size_t>(pick(300, 12000)))},
                                                            {"metadata", {{"exit_code", 0}}}}.dump()}});
            out += record("event_msg", {{"type", "token_count"}, {"info", nullptr}});
        }
        const std::string answer = prose(2, 8) + (chance(0.4) ? "\n\n" + codeBlock() : "");
        out += record("response_item", {{"type", "message"}, {"role", "assistant"},
                                        {"content", json::array({{{"type", "output_text"}, {"text", answer}}})}});
        out += record("event_msg", {{"type", "agent_message"}, {"message", answer}});
    }
    return out;
}

std::string LogGenerator::geminiChat(std::uint64_t targetBytes, bool jsonLines)
{
    const std::string session = uuid();
    json messages = json::array();
    std::string out = json{{"sessionId", session}, {"projectHash", base64(16)}, {"startTime", timestamp()},
                           {"lastUpdated", timestamp()}, {"kind", "main"}}.dump() + "\n";
    std::uint64_t size = out.size();
    const auto add = [&](json message) {
        const std::string line = message.dump() + "\n";
        size += line.size();
        if (jsonLines) {
            out += line;
            out += json{{"$set", {{"lastUpdated", timestamp()}}}}.dump() + "\n";
        }
        messages.push_back(std::move(message));
    };
    while (size < targetBytes) {
        add({{"id", uuid()}, {"timestamp", timestamp()}, {"type", "user"},
             {"content", json::array({{{"text", prose(1, 3)}}})}});
        json reply{{"id", uuid()}, {"timestamp", timestamp()}, {"type", "gemini"}, {"content", prose(2, 8)},
                   {"thoughts", json::array({{{"subject", words(2, 4)}, {"description", prose(1, 3)}, {"timestamp", timestamp()}}})},
                   {"tokens", {{"input", pick(1000, 40000)}, {"output", pick(10, 3000)}}},
                   {"model", "gemini-2.5-pro"}};
        if (jsonLines && chance(0.5))
            add(reply); // written first without its tool calls, then again with them
        if (chance(0.6))
            reply["toolCalls"] = json::array({{{"id", uuid()}, {"name", "read_file"}, {"args", {{"file_path", "src/a.ts"}}},
                                               {"result", json::array({{{"functionResponse", {{"response", {{"output", fileContent(static_cast<std::size_t>(pick(300, 6000)))}}}}}}})}}});
        add(std::move(reply));
        if (chance(0.05))
            add({{"id", uuid()}, {"timestamp", timestamp()}, {"type", "info"}, {"content", "Request cancelled."}});
    }
    if (jsonLines)
        return out;
    return json{{"sessionId", session}, {"projectHash", base64(16)}, {"startTime", timestamp()}, {"lastUpdated", timestamp()},
                {"messages", std::move(messages)}, {"kind", "main"}}
        .dump(2);
}

HomeSummary LogGenerator::populateHome(const std::string &home, const HomeSpec &spec)
{
    namespace fs = std::filesystem;
    const fs::path root(home);
    HomeSummary summary;
    auto other = [&](const fs::path &path, const std::string &content) {
        writeFile(path, content);
        ++summary.otherFiles;
    };

    other(root / ".claude/CLAUDE.md", "# About me\n\n" + prose(3, 6));
    std::vector<fs::path> projects;
    for (int p = 0; p < spec.projects; ++p) {
        projects.push_back(root / ".claude/projects" / ("-home-ann-code-project" + std::to_string(p)));
        if (p % 3 == 0)
            other(projects.back() / "memory/notes.md", "# Notes\n\n" + prose(2, 5));
    }
    while (summary.claudeBytes < spec.claudeBytes && !projects.empty()) {
        std::uint64_t size = chance(spec.largeSessionShare) ? static_cast<std::uint64_t>(pick(11, 24)) << 20
                                                            : static_cast<std::uint64_t>(pick(16, 1600)) << 10;
        size = std::min(size, spec.claudeBytes - summary.claudeBytes + 4096);
        const std::string session = claudeSession(size);
        const auto &project = projects[static_cast<std::size_t>(summary.claudeSessions) % projects.size()];
        writeFile(project / (m_sessionId + ".jsonl"), session);
        ++summary.claudeSessions;
        summary.claudeBytes += session.size();
    }

    const fs::path config = root / ".config";
    other(config / "Cursor/User/globalStorage/cursor-rules.json", "{\"rules\":[\"" + words(3, 8) + "\"]}");
    other(config / "Cursor/User/workspaceStorage/5f2a/.cursorrules", "Always " + words(4, 10) + "\n");
    for (int i = 0; i < spec.cursorTranscripts; ++i)
        other(config / "Cursor/User/globalStorage/anysphere.cursor-agent/agent-transcripts" / (uuid() + ".jsonl"),
              cursorTranscript(pick(2, 12)));
    for (int i = 0; i < spec.copilotSessions; ++i)
        other(config / "Code/User/workspaceStorage" / std::to_string(i) / "chatSessions" / (uuid() + ".jsonl"),
              copilotSession(pick(1, 8)));
    other(root / ".copilot-instructions.md", "Prefer " + words(3, 8) + "\n");
    other(root / ".openclaw/SOUL.md", "# Soul\n" + prose(1, 3));
    other(root / ".openclaw/workspace/MEMORY.md", "# Memory\n" + prose(1, 3));
    other(root / ".openclaw/workspace/notes/today.md", prose(1, 3));
    other(root / ".openclaw/workspace/node_modules/pkg/README.md", "not a note\n");
    other(root / ".windsurfrules", "Use tabs.\n");
    fs::create_directories(config / "Windsurf/User");
    other(config / "Windsurf/User/globalStorage/cascade-memories/m1.json", "{\"memory\":\"" + words(3, 8) + "\"}");
    other(root / ".gemini/GEMINI.md", "# Gemini\n" + prose(1, 3));
    fs::create_directories(config / "Trae/User");
    other(root / ".trae/rules/style.md", "Keep functions small.\n");
    other(root / ".codex/instructions.md", "Run the tests before committing.\n");
    other(root / ".deepseek/config.json", "{\"model\":\"deepseek-chat\"}\n");

    const auto sessionSize = [&](std::uint64_t left) {
        const std::uint64_t size = chance(spec.largeSessionShare) ? static_cast<std::uint64_t>(pick(11, 24)) << 20
                                                                  : static_cast<std::uint64_t>(pick(16, 1600)) << 10;
        return std::min(size, left + 4096);
    };
    while (summary.codexBytes < spec.codexBytes) {
        const std::string rollout = codexRollout(sessionSize(spec.codexBytes - summary.codexBytes));
        char day[32];
        std::snprintf(day, sizeof day, "2026/%02d/%02d", 1 + summary.codexSessions % 12, 1 + summary.codexSessions % 28);
        writeFile(root / ".codex/sessions" / day / ("rollout-2026-01-01T00-00-00-" + uuid() + ".jsonl"), rollout);
        ++summary.codexSessions;
        summary.codexBytes += rollout.size();
    }
    while (summary.geminiBytes < spec.geminiBytes) {
        const bool jsonLines = summary.geminiChats % 2 == 0;
        const std::string chat = geminiChat(sessionSize(spec.geminiBytes - summary.geminiBytes), jsonLines);
        const std::string project = "project" + std::to_string(summary.geminiChats % 8);
        writeFile(root / ".gemini/tmp" / project / "chats" / ("session-" + uuid() + (jsonLines ? ".jsonl" : ".json")), chat);
        ++summary.geminiChats;
        summary.geminiBytes += chat.size();
    }
    return summary;
}

} // namespace quorral::loggen
