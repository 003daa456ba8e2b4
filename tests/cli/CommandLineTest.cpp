#include "Subprocess.h"
#include "TempHome.h"
#include "io/ReadFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

using quorral::test::Subprocess;
using quorral::test::TempHome;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

namespace {

struct Run {
    int status;
    std::string out, err;
};

// The service address points at a port nothing listens on: none of these commands may need it.
Run run(const TempHome &home, std::vector<std::string> args, std::map<std::string, std::string> environment = {},
        std::optional<std::string> input = std::nullopt)
{
    args.insert(args.begin(), QUORRAL_EXECUTABLE);
    environment.merge(std::map<std::string, std::string>{{"HOME", home.path()},
                                                         {"XDG_CONFIG_HOME", home / ".config"},
                                                         {"XDG_CACHE_HOME", home / "cache"},
                                                         {"QUORRAL_API_URL", "http://127.0.0.1:9/api"},
                                                         {"TZ", "UTC"},
                                                         {"COLUMNS", "120"}});
    Subprocess process(args, environment, input.has_value());
    if (input) {
        process.writeInput(*input);
        process.closeInput();
    }
    const int status = process.wait();
    return {status, process.output(), process.errorOutput()};
}

struct Case {
    std::vector<std::string> args;
    int status;
    std::string out; // a part of standard output that must be there ("" for none expected)
    std::string err; // a part of standard error that must be there
};

} // namespace

TEST(CommandLine, InvocationsExitAndSayWhatTheyShould)
{
    TempHome home;
    const std::vector<Case> cases{
        {{"--version"}, 0, "quorral 0.", ""},
        {{"--help"}, 0, "  conversations  list your local conversations", ""},
        {{"scan", "--help"}, 0, "usage: quorral scan [--json] [--show PATH]", ""},
        {{"conversations", "-h"}, 0, "--limit N", ""},
        {{"remember", "--help"}, 0, "usage: quorral remember", ""},
        {{"sync", "--help"}, 0, "--dry-run", ""},
        {{}, 1, "", "no graphical session"},
        {{"frobnicate"}, 2, "", "unknown command 'frobnicate'"},
        {{"scan", "--bogus"}, 2, "", "quorral scan: unexpected '--bogus'\nusage: quorral scan"},
        {{"conversations", "--search"}, 2, "", "--search needs a value"},
        {{"conversations", "--limit", "ten"}, 2, "", "--limit needs a number"},
        {{"conversations", "--source", "chatgpt"}, 2, "", "unknown source 'chatgpt'"},
        {{"daemon", "--max-watches"}, 2, "", "--max-watches needs a number"},
        {{"sync", "--now"}, 2, "", "usage: quorral sync [--dry-run]"},
        {{"remember", "-x"}, 2, "", "put -- before a text that starts with -"},
        {{"remember", "--", "-x", "is", "a", "flag"}, 1, "", "not signed in; run `quorral login`"},
        {{"status"}, 1, "", "not signed in; run `quorral login`"},
        {{"sync"}, 1, "", "not signed in; run `quorral login`"},
    };
    for (const auto &c : cases) {
        const auto label = testing::PrintToString(c.args);
        const auto result = run(home, c.args);
        EXPECT_EQ(result.status, c.status) << label << "\n" << result.err;
        if (!c.out.empty()) {
            EXPECT_THAT(result.out, HasSubstr(c.out)) << label;
        }
        if (!c.err.empty()) {
            EXPECT_THAT(result.err, HasSubstr(c.err)) << label;
        }
        if (c.status == 2) {
            EXPECT_EQ(result.out, "") << label << ": usage errors go to standard error";
            // One command's usage, not the whole list.
            if (!c.args.empty() && c.args.front() != "frobnicate") {
                EXPECT_THAT(result.err, Not(HasSubstr("quorral unconfigure"))) << label;
            }
        }
        // The command line speaks one language.
        EXPECT_THAT(result.out + result.err, Not(testing::ContainsRegex("[\xe4-\xe9][\x80-\xbf][\x80-\xbf]"))) << label;
    }
}

TEST(CommandLine, AnUnusableServiceAddressStopsOnlyTheCommandsThatTalkToTheService)
{
    TempHome home;
    const std::map<std::string, std::string> bad{{"QUORRAL_API_URL", "ftp:/nowhere"}};
    EXPECT_EQ(run(home, {"scan", "--json"}, bad).status, 0);
    EXPECT_EQ(run(home, {"conversations"}, bad).status, 0);
    const auto status = run(home, {"status"}, bad);
    EXPECT_EQ(status.status, 2);
    EXPECT_THAT(status.err, HasSubstr("QUORRAL_API_URL"));
}

TEST(CommandLine, RememberRefusesAnEmptyTextFromStandardInput)
{
    TempHome home;
    EXPECT_EQ(run(home, {"remember"}, {}, " \n").status, 2);
    EXPECT_EQ(run(home, {"remember", "-"}, {}, "").status, 2);
    // A text arrives: the command goes on to the sign-in check.
    const auto piped = run(home, {"remember", "-"}, {}, "use tabs\n");
    EXPECT_EQ(piped.status, 1);
    EXPECT_THAT(piped.err, HasSubstr("not signed in"));
}

// A dry run lists what a sync would send and records nothing: a second one lists it again.
TEST(CommandLine, SyncDryRunSendsAndRecordsNothing)
{
    TempHome home;
    const std::string log = home.write(
        ".claude/projects/-w-app/s.jsonl",
        R"({"type":"user","cwd":"/w/app","sessionId":"s1","timestamp":"2025-01-01T10:00:00Z","message":{"role":"user","content":"How do I rebase?"}})"
        "\n"
        R"({"type":"assistant","cwd":"/w/app","sessionId":"s1","timestamp":"2025-01-01T10:00:05Z","message":{"role":"assistant","content":[{"type":"text","text":"Use git rebase -i."}]}})"
        "\n");
    // A notes file that cannot be used (not UTF-8) is passed over; the dry run must not
    // record even that, or the real sync would never look at it again once it is fixed.
    home.write(".claude/projects/-w-app/notes.md", "caf\xE9");
    for (int pass = 0; pass < 2; ++pass) {
        const auto dry = run(home, {"sync", "--dry-run"});
        ASSERT_EQ(dry.status, 0) << dry.err;
        EXPECT_THAT(dry.out, HasSubstr("claude-code  2 msgs  ")) << pass;
        EXPECT_THAT(dry.out, HasSubstr(log)) << pass;
        EXPECT_THAT(dry.out, HasSubstr("1 files from 1 tools would be sent")) << pass;
        EXPECT_THAT(dry.err, HasSubstr("Scanning Claude Code…\n")) << pass;
    }
    const auto settings = quorral::io::readWholeFile(home / ".config/Quorral/Quorral.conf");
    EXPECT_FALSE(settings && settings->find("notes.md") != std::string::npos) << "nothing recorded: " << *settings;
}

TEST(CommandLine, ManualPageAndCompletionAreMadeFromTheUsage)
{
    const auto page = quorral::io::readWholeFile(QUORRAL_MANUAL_PAGE);
    ASSERT_TRUE(page);
    EXPECT_THAT(*page, StartsWith(".TH QUORRAL 1"));
    EXPECT_THAT(*page, HasSubstr("\\-\\-dry\\-run"));
    const auto completion = quorral::io::readWholeFile(QUORRAL_BASH_COMPLETION);
    ASSERT_TRUE(completion);
    EXPECT_THAT(*completion, HasSubstr("complete -F _quorral quorral"));
    EXPECT_THAT(*completion, HasSubstr("conversations) words='--help --source --time --search --project --limit --json "
                                       "--markdown show'"));
    // The script is valid bash and completes a command's options.
    const auto script = std::string("source '") + QUORRAL_BASH_COMPLETION +
                        "'; COMP_WORDS=(quorral sync --d); COMP_CWORD=2; _quorral; echo \"${COMPREPLY[*]}\"";
    Subprocess bash({"/bin/bash", "-c", script}, {});
    EXPECT_EQ(bash.wait(), 0) << bash.errorOutput();
    EXPECT_EQ(bash.output(), "--dry-run\n");
}
