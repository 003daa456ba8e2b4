#include "integrations/JsonMemberRemoval.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <vector>

namespace quorral::integrations {
namespace {

struct Member {
    std::size_t keyBegin = 0;
    std::size_t keyEnd = 0;
    std::size_t valueBegin = 0;
    std::size_t valueEnd = 0;
};

// Byte offsets of the members of one object in text already known to be valid JSON.
// Values that are not looked into are skipped by counting brackets, without recursion,
// so deep nesting costs no stack.
class MemberScanner {
public:
    explicit MemberScanner(std::string_view text) : m_text(text) {}

    std::size_t skipSpace(std::size_t at) const
    {
        while (at < m_text.size() && (m_text[at] == ' ' || m_text[at] == '\t' || m_text[at] == '\n' || m_text[at] == '\r'))
            ++at;
        return at;
    }

    // Where the top-level value begins, past a byte order mark.
    std::size_t start() const { return skipSpace(m_text.starts_with("\xEF\xBB\xBF") ? 3 : 0); }

    // The members of the object whose '{' is at `open`; absent when no object is there.
    std::optional<std::vector<Member>> members(std::size_t open) const
    {
        if (open >= m_text.size() || m_text[open] != '{')
            return std::nullopt;
        std::vector<Member> result;
        std::size_t at = skipSpace(open + 1);
        while (at < m_text.size() && m_text[at] == '"') {
            Member member;
            member.keyBegin = at;
            member.keyEnd = skipString(at);
            at = skipSpace(member.keyEnd);
            if (at >= m_text.size() || m_text[at] != ':')
                return std::nullopt;
            member.valueBegin = skipSpace(at + 1);
            member.valueEnd = skipValue(member.valueBegin);
            result.push_back(member);
            at = skipSpace(member.valueEnd);
            if (at < m_text.size() && m_text[at] == ',')
                at = skipSpace(at + 1);
        }
        return result;
    }

    std::string key(const Member &member) const
    {
        const auto decoded = nlohmann::json::parse(m_text.substr(member.keyBegin, member.keyEnd - member.keyBegin), nullptr,
                                                   /*allow_exceptions=*/false);
        return decoded.is_string() ? decoded.get<std::string>() : std::string();
    }

private:
    std::size_t skipString(std::size_t at) const
    {
        for (++at; at < m_text.size(); ++at) {
            if (m_text[at] == '\\')
                ++at;
            else if (m_text[at] == '"')
                return at + 1;
        }
        return m_text.size();
    }

    std::size_t skipValue(std::size_t at) const
    {
        if (at >= m_text.size())
            return at;
        if (m_text[at] == '"')
            return skipString(at);
        if (m_text[at] == '{' || m_text[at] == '[') {
            std::size_t depth = 0;
            while (at < m_text.size()) {
                const char c = m_text[at];
                if (c == '"') {
                    at = skipString(at);
                    continue;
                }
                if (c == '{' || c == '[')
                    ++depth;
                else if ((c == '}' || c == ']') && --depth == 0)
                    return at + 1;
                ++at;
            }
            return at;
        }
        while (at < m_text.size() && std::string_view(",}] \t\r\n").find(m_text[at]) == std::string_view::npos)
            ++at;
        return at;
    }

    std::string_view m_text;
};

// The byte range that takes member `index` out of `members` with its comma: up to the
// next member's key, or, for the last member, back to the end of the one before it, so
// the closing brace keeps its own line. A sole member leaves "{}" behind.
std::pair<std::size_t, std::size_t> cutFor(const std::vector<Member> &members, std::size_t index, std::size_t open)
{
    if (index + 1 < members.size())
        return {members[index].keyBegin, members[index + 1].keyBegin};
    if (index > 0)
        return {members[index - 1].valueEnd, members[index].valueEnd};
    return {open + 1, members[index].valueEnd};
}

// One cut, or absent when nothing is left to remove.
std::optional<std::pair<std::size_t, std::size_t>> nextCut(std::string_view text, std::string_view parent,
                                                           std::string_view member)
{
    const MemberScanner scanner(text);
    const auto top = scanner.members(scanner.start());
    if (!top)
        return std::nullopt;
    for (const auto &outer : *top) {
        if (scanner.key(outer) != parent)
            continue;
        const auto inner = scanner.members(outer.valueBegin);
        if (!inner)
            continue;
        for (std::size_t i = 0; i < inner->size(); ++i) {
            if (scanner.key((*inner)[i]) != member)
                continue;
            auto cut = cutFor(*inner, i, outer.valueBegin);
            // A sole member also takes the white space before the closing brace: "{}".
            if (inner->size() == 1)
                cut.second = scanner.skipSpace(cut.second);
            return cut;
        }
    }
    return std::nullopt;
}

} // namespace

std::string withoutNestedMember(std::string_view json, std::string_view parent, std::string_view member)
{
    std::string text(json);
    // Offsets move with every cut, so the text is scanned again after each; duplicate
    // keys are the only way there is more than one.
    while (const auto cut = nextCut(text, parent, member))
        text.erase(cut->first, cut->second - cut->first);
    return text;
}

} // namespace quorral::integrations
