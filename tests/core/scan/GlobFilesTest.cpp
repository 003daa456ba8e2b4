#include "scan/GlobFiles.h"

#include "TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using quorral::scan::globFiles;
using quorral::test::TempHome;
using testing::UnorderedElementsAre;

TEST(GlobFiles, MissingDirectoryGivesNothing)
{
    TempHome home;
    EXPECT_TRUE(globFiles(home / "nope", ".md").empty());
}

TEST(GlobFiles, MatchesAPlainCaseSensitiveSuffixAtAnyDepthIncludingHiddenAndDirectories)
{
    TempHome home;
    home.write("root/a.md", "x");
    home.write("root/B.MD", "x");
    home.write("root/.hidden/c.md", "x");
    home.write("root/deep/er/d.md", "x");
    home.write("root/notes.md/inner.txt", "x"); // a directory whose name ends in .md
    home.write("root/e.mdx", "x");
    const auto root = home / "root";
    EXPECT_THAT(globFiles(root, ".md"), UnorderedElementsAre(root + "/a.md", root + "/.hidden/c.md",
                                                             root + "/deep/er/d.md", root + "/notes.md"));
}

TEST(GlobFiles, ListsEntriesBeforeWhatIsBelowThem)
{
    TempHome home;
    home.write("root/p.jsonl/q.jsonl", "x");
    const auto found = globFiles(home / "root", ".jsonl");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0], home / "root/p.jsonl");
    EXPECT_EQ(found[1], home / "root/p.jsonl/q.jsonl");
}

TEST(GlobFiles, SymbolicLinkLoopsEndTheWalkAndLinksAreReportedNotFollowed)
{
    TempHome home;
    home.write("root/sub/real.md", "x");
    std::filesystem::create_directory_symlink(home / "root", home / "root/sub/loop");
    std::filesystem::create_directory_symlink(home / "root/sub/loop2", home / "root/sub/loop2"); // self link
    std::filesystem::create_symlink(home / "root/sub/real.md", home / "root/link.md");
    const auto root = home / "root";
    EXPECT_THAT(globFiles(root, ".md"), UnorderedElementsAre(root + "/sub/real.md", root + "/link.md"));
}

TEST(GlobFiles, UnreadableFolderIsPassedOver)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    TempHome home;
    home.write("root/ok.md", "x");
    home.write("root/locked/hidden.md", "x");
    ::chmod((home / "root/locked").c_str(), 0);
    EXPECT_THAT(globFiles(home / "root", ".md"), UnorderedElementsAre(home / "root/ok.md"));
}
