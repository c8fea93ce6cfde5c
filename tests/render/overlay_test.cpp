// The cell frame, the title and the time stamp.

#include "render_test_support.h"

#include <QString>

namespace qm::test {
namespace {

constexpr QRgb kRed = 0xFFFF0000, kGrey = 0xFF808080;

std::vector<OverlayInfo> DrawAndList(CVideoRenderer& renderer, FakeWindow& window, CellRect dest,
                                     uint64_t time = 0, const uint8_t* title = nullptr) {
    const auto picture = SolidPicture(64, 48, kGrey);
    Draw(renderer, window, picture, 64, 48, dest, 0, time, title);
    return renderer.RenderImpl()->Overlays();
}

std::vector<uint8_t> Title(const std::u16string& text) {
    std::vector<uint8_t> block(32, 0);
    for (size_t i = 0; i < text.size() && i < 16; ++i) {
        block[2 * i] = uint8_t(text[i] & 0xFF);
        block[2 * i + 1] = uint8_t(text[i] >> 8);
    }
    return block;
}

void ExpectRect(const CellRect& r, int l, int t, int rr, int b) {
    EXPECT_EQ(r.left, l);
    EXPECT_EQ(r.top, t);
    EXPECT_EQ(r.right, rr);
    EXPECT_EQ(r.bottom, b);
}

using OverlayTest = RendererTest;

TEST_F(OverlayTest, FrameIsSixBandsInsideTheCellGreenInsideWhenSelected) {
    const QRgb normal[6] = {0xFF000000, 0xFF323232, 0xFF505050, 0xFF6E6E6E, 0xFF969696, 0xFFBEBEBE};
    const QRgb selected[6] = {0xFF000000, 0xFF323232, 0xFF505050,
                              0xFF6E6E6E, 0xFF00FF00, 0xFF00FF00};
    for (int sel : {0, 1}) {
        const QRgb* colours = sel ? selected : normal;
        FakeWindow window(500, 400);
        CVideoRenderer renderer;
        // A red picture under the whole window shows what the frame covers.
        Draw(renderer, window, SolidPicture(16, 16, kRed), 16, 16, CellRect{0, 0, 500, 400});
        Draw(renderer, window, SolidPicture(288, 238, kGrey), 288, 238, CellRect{100, 50, 400, 300},
             sel);
        const QImage image = renderer.BackBuffer();
        for (int d = 0; d < 6; ++d) {
            EXPECT_EQ(Pixel(image, 100 + d, 175), colours[d]) << "left " << d;
            EXPECT_EQ(Pixel(image, 399 - d, 175), colours[d]) << "right " << d;
            EXPECT_EQ(Pixel(image, 250, 50 + d), colours[d]) << "top " << d;
            EXPECT_EQ(Pixel(image, 250, 299 - d), colours[d]) << "bottom " << d;
        }
        // The picture starts right inside the frame; outside the cell is untouched.
        EXPECT_EQ(Pixel(image, 106, 175), kGrey);
        EXPECT_EQ(Pixel(image, 393, 293), kGrey);
        EXPECT_EQ(Pixel(image, 400, 175), kRed);
        EXPECT_EQ(Pixel(image, 250, 300), kRed);
        EXPECT_EQ(Pixel(image, 99, 175), kRed);
    }
}

TEST_F(OverlayTest, WideCellHasTenOverlaysKeyedFromZeroEveryDraw) {
    FakeWindow window(400, 300);
    CVideoRenderer renderer;
    const auto title = Title(u"CH01");
    for (int draw = 0; draw < 2; ++draw) {
        const auto overlays =
            DrawAndList(renderer, window, CellRect{10, 20, 330, 260}, 0, title.data());
        ASSERT_EQ(overlays.size(), 10u);
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(overlays[i].key, i);
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(overlays[i].kind, OverlayKind::Rectangle);
            ExpectRect(overlays[i].rect, 10 + i, 20 + i, 330 - i, 260 - i);
        }
        // Title: black shadow, then white moved up-left by one; likewise the time.
        EXPECT_EQ(overlays[6].kind, OverlayKind::TextW);
        EXPECT_EQ(overlays[6].colour, 0xFF000000u);
        ExpectRect(overlays[6].rect, 19, 29, 312, 130);
        EXPECT_EQ(overlays[7].colour, 0xFFFFFFFFu);
        ExpectRect(overlays[7].rect, 18, 28, 311, 129);
        EXPECT_EQ(overlays[7].text, QStringLiteral("CH01"));
        EXPECT_EQ(overlays[8].kind, OverlayKind::Text);
        EXPECT_EQ(overlays[8].colour, 0xFF000000u);
        ExpectRect(overlays[8].rect, 19, 237, 312, 338);
        EXPECT_EQ(overlays[9].colour, 0xFFFFFFFFu);
        ExpectRect(overlays[9].rect, 18, 236, 311, 337);
    }
}

TEST_F(OverlayTest, NarrowCellsMoveTheTitleAndDropTheTime) {
    FakeWindow window(400, 300);
    CVideoRenderer renderer;
    auto overlays = DrawAndList(renderer, window, CellRect{0, 0, 160, 120});
    ASSERT_EQ(overlays.size(), 8u);
    ExpectRect(overlays[6].rect, 9, 9, 160 - 18, 110);
    overlays = DrawAndList(renderer, window, CellRect{0, 0, 140, 120});
    ASSERT_EQ(overlays.size(), 8u);
    ExpectRect(overlays[6].rect, 1, 1, 140 - 10, 102);
    overlays = DrawAndList(renderer, window, CellRect{0, 0, 150, 120});
    EXPECT_EQ(overlays[6].rect.left, 9);
    overlays = DrawAndList(renderer, window, CellRect{0, 0, 149, 120});
    EXPECT_EQ(overlays[6].rect.left, 1);
    EXPECT_EQ(DrawAndList(renderer, window, CellRect{0, 0, 171, 120}).size(), 10u);
    EXPECT_EQ(DrawAndList(renderer, window, CellRect{0, 0, 170, 120}).size(), 8u);
}

TEST_F(OverlayTest, TimeTextHasFullYearUnpaddedDayAndTrailingBlank) {
    FakeWindow window(400, 300);
    CVideoRenderer renderer;
    const CellRect cell{0, 0, 320, 240};
    EXPECT_EQ(DrawAndList(renderer, window, cell, 0)[9].text,
              QStringLiteral("1601/01/1  00:00:00 "));
    // 2010-05-07 14:05:09.9999999
    EXPECT_EQ(DrawAndList(renderer, window, cell, 129177147090000000ull + 9999999)[9].text,
              QStringLiteral("2010/05/7  14:05:09 "));
    EXPECT_EQ(DrawAndList(renderer, window, cell, 125963423990000000ull)[9].text,
              QStringLiteral("2000/02/29  23:59:59 "));
}

TEST_F(OverlayTest, TitleIsUpToSixteenUtf16Units) {
    FakeWindow window(400, 300);
    CVideoRenderer renderer;
    const CellRect cell{0, 0, 320, 240};
    auto overlays = DrawAndList(renderer, window, cell, 0, Title(u"ABCDEFGHIJKLMNOP").data());
    EXPECT_EQ(overlays[7].text, QStringLiteral("ABCDEFGHIJKLMNOP"));
    overlays = DrawAndList(renderer, window, cell, 0, Title(u"\u4E2D1").data());
    EXPECT_EQ(overlays[7].text, QString::fromUtf16(u"\u4E2D1"));
    overlays = DrawAndList(renderer, window, cell, 0, Title(u"").data());
    EXPECT_EQ(overlays[6].kind, OverlayKind::TextW);
    EXPECT_EQ(overlays[7].kind, OverlayKind::TextW);
    EXPECT_TRUE(overlays[7].text.isEmpty());
}

// Counts pixels of exactly one colour in a region.
int CountColour(const QImage& image, const QRect& region, QRgb colour) {
    int n = 0;
    for (int y = region.top(); y <= region.bottom(); ++y)
        for (int x = region.left(); x <= region.right(); ++x)
            n += Pixel(image, x, y) == colour;
    return n;
}

TEST_F(OverlayTest, TextIsWhiteWithABlackShadowOnThePicture) {
    FakeWindow window(320, 240);
    CVideoRenderer renderer;
    const CellRect cell{0, 0, 320, 240};
    const QRect titleArea(8, 8, 150, 24);
    const QRect timeArea(8, 216, 250, 18);
    DrawAndList(renderer, window, cell, 129177147090000000ull, Title(u"CH01").data());
    QImage image = renderer.BackBuffer();
    EXPECT_GT(CountColour(image, titleArea, 0xFFFFFFFF), 10);
    EXPECT_GT(CountColour(image, titleArea, 0xFF000000), 10);
    EXPECT_GT(CountColour(image, timeArea, 0xFFFFFFFF), 10);

    // An empty title and a narrow cell leave the picture as it is there.
    DrawAndList(renderer, window, CellRect{0, 0, 170, 240}, 0, Title(u"").data());
    image = renderer.BackBuffer();
    EXPECT_EQ(CountColour(image, QRect(8, 8, 150, 24), 0xFFFFFFFF), 0);
    EXPECT_EQ(CountColour(image, QRect(8, 216, 150, 18), 0xFFFFFFFF), 0);
}

TEST(OverlayStoreTest, DrawsInKeyOrderAndDeletesItsOverlays) {
    OverlayStore store;
    store.Insert(1, std::make_unique<RectangleOverlay>(0, 0, 10, 10, 1, 0x00FF0000));
    store.Insert(0, std::make_unique<RectangleOverlay>(0, 0, 10, 10, 1, 0x000000FF));
    QImage image(10, 10, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        store.DrawAll(painter);
    }
    // Key 1 (red, alpha forced opaque) was drawn last.
    EXPECT_EQ(Pixel(image, 0, 0), kRed);
    EXPECT_EQ(Pixel(image, 9, 9), kRed);
    EXPECT_EQ(Pixel(image, 5, 5), 0xFFFFFFFFu);
    store.DeleteAll();
    EXPECT_EQ(store.Size(), 2u);
    EXPECT_TRUE(store.Infos().empty());
    store.Clear();
    EXPECT_EQ(store.Size(), 0u);
}

} // namespace
} // namespace qm::test
