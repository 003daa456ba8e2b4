#include "io/AtomicWrite.h"

#include "TempHome.h"
#include "io/ReadFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quorral::io;
using quorral::test::TempHome;

namespace {

unsigned modeOf(const std::string &path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

} // namespace

TEST(AtomicWrite, ReplacedFileKeepsItsPermissionsUnlessTold)
{
    TempHome home;
    const auto path = home.write("file", "old");
    ::chmod(path.c_str(), 0640);
    EXPECT_EQ(writeFileAtomically(path, "new"), std::nullopt);
    EXPECT_EQ(readWholeFile(path), "new");
    EXPECT_EQ(modeOf(path), 0640u);

    EXPECT_EQ(writeFileAtomically(path, "secret", {.temporarySuffix = ".tmp", .mode = 0600, .keepExistingMode = false}),
              std::nullopt);
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(writeFileAtomically(home / "fresh", "x", {.temporarySuffix = ".tmp", .mode = 0600}), std::nullopt);
    EXPECT_EQ(modeOf(home / "fresh"), 0600u);
}

TEST(AtomicWrite, FailureLeavesTheOldFileWholeAndNamesThePath)
{
    TempHome home;
    const auto path = home.write("rules.md", "precious");
    home.mkdir("rules.md.quorral.tmp/blocker"); // the temporary file cannot be created
    const auto failure = writeFileAtomically(path, "replacement", {.temporarySuffix = ".quorral.tmp"});
    ASSERT_TRUE(failure.has_value());
    EXPECT_THAT(failure->message(), testing::StartsWith("cannot create " + path + ".quorral.tmp: "));
    EXPECT_EQ(readWholeFile(path), "precious");
}

TEST(AtomicWrite, ParentDirectory)
{
    EXPECT_EQ(parentDirectory("/a/b/c.json"), "/a/b");
    EXPECT_EQ(parentDirectory("/c.json"), "/");
    EXPECT_EQ(parentDirectory("c.json"), ".");
}

TEST(AtomicFileWriter, CommitReplacesAndAnAbandonedWriterLeavesTheOldFile)
{
    TempHome home;
    const auto path = home.write("cache.json", "old");
    {
        AtomicFileWriter writer(path);
        writer.append(std::string(3u << 20, 'x')); // flushed to the temporary file as it grows
        EXPECT_EQ(readWholeFile(path), "old");
    }
    EXPECT_EQ(readWholeFile(path), "old");
    EXPECT_FALSE(exists(path + ".tmp"));

    AtomicFileWriter writer(path);
    writer.buffer() += "new ";
    writer.append("content");
    EXPECT_EQ(writer.commit(), std::nullopt);
    EXPECT_EQ(readWholeFile(path), "new content");

    home.mkdir("blocked.json.tmp/inside");
    AtomicFileWriter blocked(home / "blocked.json");
    blocked.append("x");
    EXPECT_TRUE(blocked.commit().has_value());
}

namespace {

struct Snapshot {
    std::optional<std::string> content;
    unsigned mode = 0;
    std::int64_t modified = 0;
    bool operator==(const Snapshot &) const = default;
};

Snapshot snapshotOf(const std::string &path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return {readWholeFile(path), st.st_mode & 07777u, static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

} // namespace

TEST(AtomicWrite, ReadOnlyFileIsRefusedAndLeftExactlyAsItWas)
{
    TempHome home;
    const auto path = home.write("mcp.json", "{\"mine\": 1}");
    ::chmod(path.c_str(), 0444);
    const auto before = snapshotOf(path);

    const auto failure = writeFileAtomically(path, "replacement", {.temporarySuffix = ".quorral.tmp"});
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->message(), "cannot replace read-only file " + path + ": Permission denied");

    AtomicFileWriter writer(path);
    writer.append("replacement");
    EXPECT_TRUE(writer.commit().has_value());

    // Reached through a link, the file it names is still the one that counts.
    const auto link = home / "link.json";
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    EXPECT_TRUE(writeFileAtomically(link, "replacement").has_value());

    EXPECT_EQ(snapshotOf(path), before);
    EXPECT_FALSE(exists(path + ".quorral.tmp"));
    EXPECT_FALSE(exists(path + ".tmp"));
    EXPECT_TRUE(isReadOnly(path));
    ::chmod(path.c_str(), 0600);
    EXPECT_FALSE(isReadOnly(path));
    EXPECT_FALSE(isReadOnly(home / "absent"));
}

// Whatever stands at the temporary name is taken away, never written through.
TEST(AtomicWrite, StaleOrPlantedTemporaryIsReplacedNotWrittenThrough)
{
    TempHome home;
    const auto victim = home.write("victim", "untouched");
    for (const bool writer : {false, true}) {
        SCOPED_TRACE(writer ? "AtomicFileWriter" : "writeFileAtomically");
        const auto path = home.write("target", "old");
        const auto temporary = path + ".tmp";
        ASSERT_EQ(::symlink(victim.c_str(), temporary.c_str()), 0);
        if (writer) {
            AtomicFileWriter streamed(path, {.temporarySuffix = ".tmp", .mode = 0600, .keepExistingMode = false});
            streamed.append("new");
            EXPECT_EQ(streamed.commit(), std::nullopt);
        } else {
            EXPECT_EQ(writeFileAtomically(path, "new", {.temporarySuffix = ".tmp", .mode = 0600, .keepExistingMode = false}),
                      std::nullopt);
        }
        EXPECT_EQ(readWholeFile(path), "new");
        EXPECT_EQ(modeOf(path), 0600u);
        EXPECT_EQ(readWholeFile(victim), "untouched");
        EXPECT_FALSE(exists(temporary));

        // A left-over file readable by everyone does not lend its permissions.
        home.write("target.tmp", "stale content that is longer");
        ::chmod(temporary.c_str(), 0666);
        EXPECT_EQ(writeFileAtomically(path, "newer", {.temporarySuffix = ".tmp", .mode = 0600, .keepExistingMode = false}),
                  std::nullopt);
        EXPECT_EQ(readWholeFile(path), "newer");
        EXPECT_EQ(modeOf(path), 0600u);
    }
}

namespace {

// Files written by this process may grow to `bytes` at most; writes beyond fail with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

} // namespace

TEST(AtomicWrite, FailedWriteRemovesTheTemporaryAndKeepsTheOldFile)
{
    TempHome home;
    const auto path = home.write("cache.json", "old");
    {
        const FileSizeLimit limit(16);
        const auto failure = writeFileAtomically(path, std::string(4096, 'x'));
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->step, "write");
        EXPECT_EQ(failure->error, EFBIG);

        AtomicFileWriter writer(path);
        writer.append(std::string(3u << 20, 'x')); // fails on the writer's own thread
        EXPECT_TRUE(writer.commit().has_value());
    }
    EXPECT_EQ(readWholeFile(path), "old");
    EXPECT_FALSE(exists(path + ".tmp"));
}
