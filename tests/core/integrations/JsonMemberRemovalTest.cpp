#include "integrations/JsonMemberRemoval.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

using quorral::integrations::withoutNestedMember;

TEST(JsonMemberRemoval, CutsOnlyTheMemberAndKeepsEveryOtherByte)
{
    struct Case {
        const char *name;
        std::string before;
        std::string after;
    } cases[] = {
        {"first of several, the user's layout",
         "{\n\t\"mcpServers\" : {\n\t\t\"quorral\": {\"args\": [\"-y\", \"}\"]},\n\t\t\"other\": {\"command\": \"x\"}\n\t},\n"
         "\t\"theme\": 1.50\n}\n",
         "{\n\t\"mcpServers\" : {\n\t\t\"other\": {\"command\": \"x\"}\n\t},\n\t\"theme\": 1.50\n}\n"},
        {"last, after another server",
         "{\n  \"mcpServers\": {\n    \"a\": {\"k\": \"v\"},\n    \"quorral\": {\"env\": {\"QUORRAL_API_KEY\": \"k\"}}\n  }\n}",
         "{\n  \"mcpServers\": {\n    \"a\": {\"k\": \"v\"}\n  }\n}"},
        {"in the middle", R"({"mcpServers":{"a":1,"quorral":{},"b":[{"c":"]"}]}})", R"({"mcpServers":{"a":1,"b":[{"c":"]"}]}})"},
        {"sole member", "{\n  \"mcpServers\": {\n    \"quorral\": {}\n  },\n  \"x\": null\n}",
         "{\n  \"mcpServers\": {},\n  \"x\": null\n}"},
        {"escaped key and a quote in a string", R"({"z":"\"mcpServers\"","mcpServers":{"quorr\u0061l":"a\"}","k":true}})",
         R"({"z":"\"mcpServers\"","mcpServers":{"k":true}})"},
        {"duplicate keys all go", R"({"mcpServers":{"quorral":1,"a":2,"quorral":3}})", R"({"mcpServers":{"a":2}})"},
        {"byte order mark", "\xEF\xBB\xBF{\"mcpServers\":{\"quorral\":1}}", "\xEF\xBB\xBF{\"mcpServers\":{}}"},
        {"nested deeper is not ours", R"({"other":{"mcpServers":{"quorral":1}},"mcpServers":[]})",
         R"({"other":{"mcpServers":{"quorral":1}},"mcpServers":[]})"},
        {"no such member", R"({"mcpServers":{"quorralx":1}})", R"({"mcpServers":{"quorralx":1}})"},
        {"not an object", "[1, 2]", "[1, 2]"},
    };
    for (const auto &c : cases) {
        const auto after = withoutNestedMember(c.before, "mcpServers", "quorral");
        EXPECT_EQ(after, c.after) << c.name;
        EXPECT_TRUE(nlohmann::json::accept(after)) << c.name;
    }
}

TEST(JsonMemberRemoval, DeepNestingDoesNotRecurse)
{
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    const std::string text = R"({"mcpServers":{"deep":)" + deep + R"(,"quorral":{}}})";
    EXPECT_EQ(withoutNestedMember(text, "mcpServers", "quorral"), R"({"mcpServers":{"deep":)" + deep + "}}");
}
