#include "tray/PanelPlacement.h"

#include <gtest/gtest.h>

#include <string>

using quorral::app::placePanel;

namespace {

std::string describe(const QRect &r)
{
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
           std::to_string(r.height());
}

} // namespace

TEST(PanelPlacement, FollowsTheIconOrTheCursorAndStaysOnTheScreen)
{
    const QSize panel(320, 400);
    const QRect screen(0, 28, 1920, 1052);          // a top bar of 28 pixels
    const QRect leftScreen(-1280, -200, 1280, 1024); // a monitor left of and above the primary
    const struct {
        const char *name;
        QRect available;
        std::optional<QRect> icon;
        QPoint cursor;
        QPoint expected;
    } cases[] = {
        {"icon on a top bar: centred below it", screen, QRect(1500, 2, 24, 24), {}, {1351, 28}},
        {"icon at the right edge: kept inside", screen, QRect(1896, 2, 24, 24), {}, {1600, 28}},
        {"icon on a bottom bar: above it", QRect(0, 0, 1920, 1040), QRect(1800, 1048, 24, 24), {}, {1600, 640}},
        {"no icon geometry, cursor top right", screen, std::nullopt, {1700, 10}, {1380, 28}},
        {"no icon geometry, cursor bottom left", screen, std::nullopt, {5, 1075}, {5, 675}},
        {"an invalid icon rectangle counts as unknown", screen, QRect(), {100, 100}, {100, 100}},
        {"negative origins: cursor at that screen's top left", leftScreen, std::nullopt, {-1275, -195}, {-1275, -195}},
        {"negative origins: cursor past its top left", leftScreen, std::nullopt, {-1300, -300}, {-1280, -200}},
        {"negative origins: icon on its top edge", leftScreen, QRect(-40, -200, 24, 24), {}, {-320, -176}},
    };
    for (const auto &c : cases) {
        const QRect placed = placePanel(panel, c.available, c.icon, c.cursor);
        EXPECT_EQ(placed.topLeft(), c.expected) << c.name << ": " << describe(placed);
        EXPECT_EQ(placed.size(), panel) << c.name;
        EXPECT_TRUE(c.available.contains(placed)) << c.name << ": " << describe(placed);
    }
}

TEST(PanelPlacement, PanelLargerThanTheAreaKeepsItsTopLeftVisible)
{
    const QRect small(100, 50, 300, 300);
    const QRect placed = placePanel(QSize(320, 400), small, std::nullopt, QPoint(390, 340));
    EXPECT_EQ(placed.topLeft(), QPoint(100, 50));
}
