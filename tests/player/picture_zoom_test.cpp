// A camera's zoom: the picture point under the pointer stays there, the part
// shown never leaves the picture, and 1x to 8x is all there is.

#include "player/picture_zoom.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(PictureZoom, ZoomsAroundThePointerAndKeepsInsideThePicture) {
    PictureZoom zoom;
    EXPECT_EQ(zoom.Source(704, 576), (CellRect{0, 0, 704, 576}));

    // Two notches over the point at a quarter across, three quarters down:
    // that picture point (176, 432) is still a quarter across and three
    // quarters down the part shown.
    zoom.ZoomAround(2, 0.25, 0.75);
    EXPECT_DOUBLE_EQ(zoom.factor, 1.5625);
    const CellRect part = zoom.Source(704, 576);
    EXPECT_EQ(part.right - part.left, 451);
    EXPECT_NEAR(part.left + 0.25 * (part.right - part.left), 176, 1.0);
    EXPECT_NEAR(part.top + 0.75 * (part.bottom - part.top), 432, 1.0);
    EXPECT_FALSE(zoom.Sharp());

    // Far in, then dragged past the corner: 8x at most, and the part shown
    // stops at the picture's edge.
    zoom.ZoomAround(40, 0.5, 0.5);
    EXPECT_DOUBLE_EQ(zoom.factor, PictureZoom::kMost);
    EXPECT_TRUE(zoom.Sharp());
    zoom.Pan(5.0, 5.0);
    EXPECT_EQ(zoom.Source(704, 576), (CellRect{0, 0, 88, 72}));
    zoom.Pan(-50.0, -50.0);
    EXPECT_EQ(zoom.Source(704, 576), (CellRect{616, 504, 704, 576}));

    // Out again past 1x is the whole picture, wherever it was.
    zoom.ZoomAround(-40, 0.9, 0.1);
    EXPECT_FALSE(zoom.IsZoomed());
    EXPECT_EQ(zoom.Source(704, 576), (CellRect{0, 0, 704, 576}));
}

} // namespace
} // namespace qm
