#include "io/AtomicWrite.h"

#include "TempHome.h"
#include "io/ReadFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

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
