#include "resources/ApplicationResources.h"

#include <QFile>

#include <gtest/gtest.h>

TEST(ApplicationResources, LogoIsCompiledInAsPng)
{
    EXPECT_TRUE(QFile::exists(quorral::resources::logoPath()));
    const QByteArray png = quorral::resources::logoPng();
    ASSERT_GT(png.size(), 8);
    EXPECT_EQ(png.left(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
}
