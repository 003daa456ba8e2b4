#include "io/MappedFile.h"

#include "TempHome.h"

#include <gtest/gtest.h>

#include <string_view>

using namespace quorral::io;
using quorral::test::TempHome;

TEST(MappedFile, WholeFileFollowedByZeroPadding)
{
    TempHome home;
    for (const std::size_t size : {std::size_t{0}, std::size_t{10}, std::size_t{4096}, std::size_t{3u << 20}}) {
        const std::string content(size, 'q');
        const auto path = home.write("f" + std::to_string(size), content);
        auto mapped = MappedFile::open(path, 64);
        ASSERT_TRUE(mapped) << size;
        ASSERT_EQ(mapped->size(), size);
        EXPECT_EQ(std::string_view(mapped->data(), size), content);
        for (std::size_t i = 0; i < 64; ++i)
            ASSERT_EQ(mapped->data()[size + i], 0) << size;
    }
    EXPECT_FALSE(MappedFile::open(home.path(), 64)) << "a folder is no file";
    EXPECT_FALSE(MappedFile::open(home / "missing", 64));
}
