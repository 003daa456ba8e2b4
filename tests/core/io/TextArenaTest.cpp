#include "io/TextArena.h"

#include <gtest/gtest.h>

using namespace quorral::io;

TEST(TextArena, HandsOutUntilFull)
{
    const auto arena = TextArena::create(8192);
    ASSERT_TRUE(arena);
    char *first = arena->allocate(5000);
    ASSERT_NE(first, nullptr);
    first[4999] = 'x';
    arena->giveBack(1000);
    EXPECT_EQ(arena->used(), 4000u);
    EXPECT_EQ(arena->allocate(5000), nullptr);
    EXPECT_NE(arena->allocate(4192), nullptr);
}
