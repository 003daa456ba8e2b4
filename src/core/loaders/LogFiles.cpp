#include "loaders/LogFiles.h"

#include "io/ReadFile.h"
#include "text/Unicode.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>

namespace quorral::loaders {
namespace {

namespace fs = std::filesystem;

template <typename Keep>
std::vector<std::string> walk(const std::string &directory, Keep keep)
{
    std::vector<std::string> files;
    std::error_code ec;
    if (!fs::exists(directory, ec))
        return files;
    fs::recursive_directory_iterator it(directory, fs::directory_options::skip_permission_denied, ec);
    if (ec)
        return files;
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (ec)
            break;
        const auto &path = it->path();
        const auto name = path.filename().string();
        if (name.starts_with('.')) {
            it.disable_recursion_pending();
            continue;
        }
        if (keep(path))
            files.push_back(path.string());
    }
    return files;
}

int digits(std::string_view text, std::size_t at, std::size_t count)
{
    if (at + count > text.size())
        return -1;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

} // namespace

std::vector<std::string> enumerateJsonl(const std::string &directory)
{
    return walk(directory, [](const fs::path &path) { return path.extension() == ".jsonl"; });
}

std::vector<std::string> enumerateSessionJsonl(const std::string &root)
{
    return walk(root, [](const fs::path &path) {
        return path.extension() == ".jsonl" && path.parent_path().filename() == "sessions";
    });
}

std::vector<std::string> enumerateCodexRollouts(const std::string &root)
{
    return walk(root, [](const fs::path &path) {
        return path.extension() == ".jsonl" && path.filename().string().starts_with("rollout-");
    });
}

std::vector<std::string> enumerateGeminiChats(const std::string &root)
{
    return walk(root, [](const fs::path &path) {
        return (path.extension() == ".json" || path.extension() == ".jsonl") && path.parent_path().filename() == "chats"
            && path.filename().string().starts_with("session-");
    });
}

std::optional<conversation::Instant> parseInternetDateTime(std::string_view text)
{
    // YYYY-MM-DDTHH:MM:SS
    const int year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 60 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':')
        return std::nullopt;
    static constexpr int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (day > monthDays[month - 1] + (month == 2 && isLeap(year) ? 1 : 0))
        return std::nullopt;
    std::size_t at = 19;
    double fraction = 0;
    if (at < text.size() && text[at] == '.') {
        ++at;
        const std::size_t first = at;
        std::uint64_t numerator = 0, denominator = 1;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            if (at - first < 18) {
                numerator = numerator * 10 + static_cast<std::uint64_t>(text[at] - '0');
                denominator *= 10;
            }
            ++at;
        }
        if (at == first)
            return std::nullopt;
        fraction = static_cast<double>(numerator) / static_cast<double>(denominator);
    }
    if (at >= text.size())
        return std::nullopt; // the zone is required
    int offset = 0;
    if (text[at] == 'Z') {
        ++at;
    } else if (text[at] == '+' || text[at] == '-') {
        const int sign = text[at] == '+' ? 1 : -1;
        const int hours = digits(text, at + 1, 2);
        std::size_t minutesAt = at + 3;
        if (minutesAt < text.size() && text[minutesAt] == ':')
            ++minutesAt;
        const int minutes = digits(text, minutesAt, 2);
        if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59)
            return std::nullopt;
        offset = sign * (hours * 3600 + minutes * 60);
        at = minutesAt + 2;
    } else {
        return std::nullopt;
    }
    if (at != text.size())
        return std::nullopt;
    const std::int64_t seconds = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                                 hour * 3600 + minute * 60 + second - offset;
    return conversation::Instant{static_cast<double>(seconds - static_cast<std::int64_t>(conversation::Instant::unixEpochOffset)) +
                                 fraction};
}

std::optional<JsonLinesFile> JsonLinesFile::read(const std::string &path, LoadError *error)
{
    const auto fail = [&](const char *reason) -> std::optional<JsonLinesFile> {
        if (error)
            *error = LoadError{path, reason};
        return std::nullopt;
    };
    auto file = io::openRegularFile(path);
    if (!file)
        return fail("cannot be opened as a regular file");
    // The thread's buffer grows to its largest log; a huge one is not kept afterwards.
    thread_local std::unique_ptr<char[]> buffer;
    thread_local std::size_t capacity = 0;
    const auto size = static_cast<std::size_t>(file->size);
    const std::size_t needed = size + simdjson::SIMDJSON_PADDING;
    if (needed > capacity || (capacity > (64u << 20) && needed < capacity / 4)) {
        buffer.reset(new char[needed]);
        capacity = needed;
    }
    // A log that grows while it is read is read up to the size it had when opened.
    const auto read = io::readInto(*file, 0, buffer.get(), size);
    if (!read)
        return fail("cannot be read");
    std::memset(buffer.get() + *read, 0, simdjson::SIMDJSON_PADDING);
    // A last line caught mid-write may end inside a character; the lines before it are
    // whole and still make the conversation.
    const auto usable = text::validUtf8LinesLength(std::string_view(buffer.get(), *read));
    if (!usable || (*usable == 0 && *read > 0))
        return fail("is not valid UTF-8 text");
    if (*usable < *read)
        std::memset(buffer.get() + *usable, 0, simdjson::SIMDJSON_PADDING);
    return JsonLinesFile(buffer.get(), *usable);
}

std::string fileStem(const std::string &path)
{
    return fs::path(path).stem().string();
}

} // namespace quorral::loaders
