#include "highlight/SyntaxHighlighter.h"

#include "text/Unicode.h"

#include <utf8proc.h>

#include <optional>
#include <unordered_set>

namespace quorral::highlight::SyntaxHighlighter {
namespace {

struct LanguageRules {
    std::unordered_set<std::string_view> keywords;
    std::vector<std::string_view> lineComments;
    std::vector<std::pair<std::string_view, std::string_view>> blockComments;
    std::string_view stringDelimiters;
    bool caseInsensitiveKeywords = false;
};

const LanguageRules swiftRules{
    {"let", "var", "func", "class", "struct", "enum", "protocol", "extension", "if", "else", "guard", "switch", "case",
     "default", "for", "while", "in", "return", "import", "public", "private", "internal", "fileprivate", "open",
     "static", "final", "init", "self", "Self", "true", "false", "nil", "throw", "throws", "rethrows", "try", "catch",
     "do", "as", "is", "where", "associatedtype", "typealias", "lazy", "weak", "unowned", "mutating", "nonmutating",
     "inout", "async", "await", "actor", "deinit", "subscript", "operator", "precedencegroup", "Any", "Type"},
    {"//"},
    {{"/*", "*/"}},
    "\"",
    false};

const LanguageRules javaScriptRules{
    {"const", "let", "var", "function", "return", "if", "else", "for", "while", "do", "break", "continue", "import",
     "export", "from", "as", "default", "async", "await", "class", "extends", "implements", "interface", "type", "enum",
     "new", "this", "super", "null", "undefined", "true", "false", "void", "typeof", "instanceof", "switch", "case",
     "throw", "try", "catch", "finally", "yield", "static", "public", "private", "protected", "readonly", "abstract",
     "in", "of", "delete"},
    {"//"},
    {{"/*", "*/"}},
    "\"'`",
    false};

const LanguageRules pythonRules{
    {"def", "class", "if", "elif", "else", "for", "while", "in", "not", "and", "or", "return", "yield", "import", "from",
     "as", "with", "try", "except", "finally", "raise", "pass", "break", "continue", "lambda", "global", "nonlocal",
     "True", "False", "None", "is", "async", "await", "self", "cls"},
    {"#"},
    {},
    "\"'",
    false};

const LanguageRules shellRules{
    {"if", "then", "elif", "else", "fi", "for", "while", "do", "done", "case", "esac", "in", "function", "return",
     "echo", "export", "local", "readonly", "set", "unset", "source", "exit", "true", "false"},
    {"#"},
    {},
    "\"'",
    false};

const LanguageRules sqlRules{
    {"select", "from", "where", "insert", "into", "values", "update", "set", "delete", "create", "table", "drop",
     "alter", "add", "column", "index", "primary", "key", "foreign", "references", "join", "left", "right", "inner",
     "outer", "on", "as", "and", "or", "not", "null", "is", "in", "between", "like", "exists", "group", "by", "order",
     "asc", "desc", "having", "limit", "offset", "distinct", "union", "all", "true", "false", "case", "when", "then",
     "else", "end"},
    {"--"},
    {{"/*", "*/"}},
    "'\"",
    true};

const LanguageRules jsonRules{{"true", "false", "null"}, {}, {}, "\"", false};

const LanguageRules goRules{
    {"package", "import", "func", "var", "const", "type", "struct", "interface", "if", "else", "for", "range", "return",
     "break", "continue", "switch", "case", "default", "go", "defer", "chan", "select", "map", "true", "false", "nil"},
    {"//"},
    {{"/*", "*/"}},
    "\"`",
    false};

const LanguageRules rustRules{
    {"fn", "let", "mut", "const", "static", "struct", "enum", "trait", "impl", "for", "while", "loop", "if", "else",
     "match", "return", "break", "continue", "use", "mod", "pub", "crate", "self", "Self", "super", "as", "in", "ref",
     "where", "true", "false", "unsafe", "async", "await", "move", "dyn"},
    {"//"},
    {{"/*", "*/"}},
    "\"",
    false};

const LanguageRules *rulesFor(std::string_view language)
{
    const std::string name = text::toLower(language);
    if (name == "swift")
        return &swiftRules;
    for (std::string_view js : {"ts", "tsx", "js", "jsx", "javascript", "typescript", "mjs", "cjs"})
        if (name == js)
            return &javaScriptRules;
    if (name == "py" || name == "python")
        return &pythonRules;
    if (name == "sh" || name == "bash" || name == "zsh" || name == "shell")
        return &shellRules;
    if (name == "sql")
        return &sqlRules;
    if (name == "json")
        return &jsonRules;
    if (name == "go" || name == "golang")
        return &goRules;
    if (name == "rust" || name == "rs")
        return &rustRules;
    return nullptr;
}

// Walks user-perceived characters: the byte length of the character at `at` and its first
// code point. ASCII next to ASCII is one byte, except CR LF, which is one character.
struct Character {
    std::size_t length;
    utf8proc_int32_t codePoint;
};

Character characterAt(std::string_view code, std::size_t at)
{
    const auto *bytes = reinterpret_cast<const utf8proc_uint8_t *>(code.data());
    const auto size = static_cast<utf8proc_ssize_t>(code.size());
    auto pos = static_cast<utf8proc_ssize_t>(at);
    utf8proc_int32_t first = 0;
    auto len = utf8proc_iterate(bytes + pos, size - pos, &first);
    if (len <= 0) {
        first = -1;
        len = 1;
    }
    if (first == '\r' && pos + 1 < size && bytes[pos + 1] == '\n')
        return {2, '\r'};
    if (first >= 0 && first < 0x80 && (pos + 1 >= size || bytes[pos + 1] < 0x80))
        return {1, first};
    // Extend over the code points that do not start a new grapheme cluster.
    utf8proc_int32_t previous = first, state = 0;
    pos += len;
    while (pos < size && previous >= 0) {
        utf8proc_int32_t next = 0;
        const auto nextLen = utf8proc_iterate(bytes + pos, size - pos, &next);
        if (nextLen <= 0 || utf8proc_grapheme_break_stateful(previous, next, &state))
            break;
        previous = next;
        pos += nextLen;
    }
    return {static_cast<std::size_t>(pos) - at, first};
}

bool isLetter(utf8proc_int32_t cp)
{
    if (cp < 0)
        return false;
    if (cp < 0x80)
        return (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z');
    switch (utf8proc_category(cp)) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO: return true;
    default: return false;
    }
}

bool isNumber(utf8proc_int32_t cp)
{
    if (cp < 0)
        return false;
    if (cp < 0x80)
        return cp >= '0' && cp <= '9';
    const auto category = utf8proc_category(cp);
    return category == UTF8PROC_CATEGORY_ND || category == UTF8PROC_CATEGORY_NL || category == UTF8PROC_CATEGORY_NO;
}

// The offset of the line feed that ends a line at or after `from` (before a CR LF pair).
std::size_t lineEnd(std::string_view code, std::size_t from)
{
    const auto feed = code.find('\n', from);
    if (feed == std::string_view::npos)
        return code.size();
    return feed > from && code[feed - 1] == '\r' ? feed - 1 : feed;
}

} // namespace

bool supports(std::string_view language)
{
    return rulesFor(language) != nullptr;
}

std::vector<HighlightToken> highlight(std::string_view language, std::string_view code)
{
    std::vector<HighlightToken> tokens;
    if (code.empty())
        return tokens;
    const LanguageRules *rules = rulesFor(language);
    if (!rules) {
        tokens.push_back({HighlightTokenKind::plain, std::string(code)});
        return tokens;
    }
    std::size_t plainStart = 0, pos = 0;
    const auto emit = [&](HighlightTokenKind kind, std::size_t end) {
        if (pos > plainStart)
            tokens.push_back({HighlightTokenKind::plain, std::string(code.substr(plainStart, pos - plainStart))});
        tokens.push_back({kind, std::string(code.substr(pos, end - pos))});
        pos = plainStart = end;
    };
    while (pos < code.size()) {
        const auto rest = code.substr(pos);
        bool matched = false;
        for (const auto marker : rules->lineComments) {
            if (rest.starts_with(marker)) {
                emit(HighlightTokenKind::comment, lineEnd(code, pos));
                matched = true;
                break;
            }
        }
        if (matched)
            continue;
        for (const auto &[open, close] : rules->blockComments) {
            if (rest.starts_with(open)) {
                const auto found = code.find(close, pos + open.size());
                emit(HighlightTokenKind::comment, found == std::string_view::npos ? code.size() : found + close.size());
                matched = true;
                break;
            }
        }
        if (matched)
            continue;
        if (rules->stringDelimiters.find(code[pos]) != std::string_view::npos) {
            const char delimiter = code[pos];
            std::size_t end = pos + 1;
            while (end < code.size()) {
                const char c = code[end];
                if (c == '\\' && end + 1 < code.size()) {
                    end += characterAt(code, end + 1).length + 1;
                } else if (c == delimiter) {
                    ++end;
                    break;
                } else if (c == '\n' || (c == '\r' && end + 1 < code.size() && code[end + 1] == '\n')) {
                    break;
                } else {
                    end += characterAt(code, end).length;
                }
            }
            emit(HighlightTokenKind::string, std::min(end, code.size()));
            continue;
        }
        const auto character = characterAt(code, pos);
        if (isLetter(character.codePoint) || character.codePoint == '_') {
            std::size_t end = pos + character.length;
            while (end < code.size()) {
                const auto next = characterAt(code, end);
                if (!isLetter(next.codePoint) && !isNumber(next.codePoint) && next.codePoint != '_')
                    break;
                end += next.length;
            }
            const auto word = code.substr(pos, end - pos);
            const bool keyword = rules->caseInsensitiveKeywords ? rules->keywords.contains(text::toLower(word))
                                                                : rules->keywords.contains(word);
            if (keyword)
                emit(HighlightTokenKind::keyword, end);
            else
                pos = end; // stays in the plain run
            continue;
        }
        pos += character.length;
    }
    if (pos > plainStart)
        tokens.push_back({HighlightTokenKind::plain, std::string(code.substr(plainStart, pos - plainStart))});
    return tokens;
}

} // namespace quorral::highlight::SyntaxHighlighter
