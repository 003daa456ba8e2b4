#pragma once

#include "conversation/Model.h"

#include <simdjson.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorral::loaders {

// Why a log could not be read at all (as opposed to holding no conversation).
struct LoadError {
    std::string path;
    std::string reason;
};

// Every "*.jsonl" (exact, case-sensitive extension) below `directory`, hidden files and
// folders skipped, in walk order. Empty when the folder is not there or cannot be walked.
std::vector<std::string> enumerateJsonl(const std::string &directory);

// The same, keeping only files whose parent folder is named exactly "sessions".
std::vector<std::string> enumerateSessionJsonl(const std::string &root);

// Codex rollouts: every "rollout-*.jsonl" below `root`.
std::vector<std::string> enumerateCodexRollouts(const std::string &root);

// Gemini CLI chats: every "session-*.json" and "session-*.jsonl" in a "chats" folder below `root`.
std::vector<std::string> enumerateGeminiChats(const std::string &root);

// ISO 8601 internet date-time, with or without fractional seconds, with "Z" or any
// "+hh:mm" / "-hh:mm" (or "+hhmm") offset. Absent for anything else, a bare date included.
std::optional<conversation::Instant> parseInternetDateTime(std::string_view text);

// A whole log in a buffer the JSON parser can read in place, line by line. The buffer is
// the reading thread's own and is reused by its next read (logs are read one at a time
// per thread, and a fresh buffer per log costs a page fault per page); so a JsonLinesFile
// is valid until the same thread reads the next one.
class JsonLinesFile {
public:
    // Absent (with the reason) when the file cannot be read or is not valid UTF-8. A last
    // line cut inside a character (a log caught mid-write) is left out instead.
    static std::optional<JsonLinesFile> read(const std::string &path, LoadError *error = nullptr);
    JsonLinesFile(JsonLinesFile &&) = default;
    JsonLinesFile(const JsonLinesFile &) = delete;

    // Calls `visit(line, index, padded)` for every line, the empty ones included; `padded`
    // is the same line, readable by the parser in place.
    template <typename Visit>
    void forEachLine(Visit &&visit) const
    {
        const char *data = m_data;
        const std::size_t size = m_size;
        std::size_t start = 0, index = 0;
        for (;;) {
            const void *feed = std::memchr(data + start, '\n', size - start);
            const std::size_t end = feed ? static_cast<std::size_t>(static_cast<const char *>(feed) - data) : size;
            const std::string_view line(data + start, end - start);
            // Everything after the line up to the buffer's padding is readable.
            visit(line, index, simdjson::padded_string_view(line.data(), line.size(), size - start + simdjson::SIMDJSON_PADDING));
            ++index;
            if (!feed)
                break;
            start = end + 1;
        }
    }

    std::size_t size() const { return m_size; }
    // The whole text, followed by the parser's padding.
    std::string_view text() const { return {m_data, m_size}; }

private:
    JsonLinesFile(const char *data, std::size_t size) : m_data(data), m_size(size) {}
    const char *m_data;
    std::size_t m_size;
};

// The file's name without its extension.
std::string fileStem(const std::string &path);

} // namespace quorral::loaders
