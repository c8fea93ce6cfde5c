// Where pictures land: tiling, crops, letterboxing, and the renderer's
// lifecycle (binding, rebuilds, device states).

#include "render_test_support.h"

#include "platform/diagnostics.h"

namespace qm::test {
namespace {

constexpr QRgb kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kWhite = 0xFFFFFFFF;
constexpr QRgb kBlack = 0xFF000000;

void ExpectQuad(const TileQuad& q, int x0, int y0, int x1, int y1, int tileW, int tileH) {
    EXPECT_EQ(q.x0, x0);
    EXPECT_EQ(q.y0, y0);
    EXPECT_EQ(q.x1, x1);
    EXPECT_EQ(q.y1, y1);
    EXPECT_EQ(q.tileW, tileW);
    EXPECT_EQ(q.tileH, tileH);
}

using TilingTest = RendererTest;

TEST_F(TilingTest, D1PictureIsFourTilesMeetingExactlyInsideTheFrame) {
    // Each 512 x 512 tile region of the picture has its own colour.
    const QRgb colours[2][2] = {{kRed, kGreen}, {kBlue, kWhite}};
    const auto picture =
        MakePicture(704, 576, [&](int x, int y) { return colours[y >= 512][x >= 512]; });
    FakeWindow window(640, 480);
    CVideoRenderer renderer;
    Draw(renderer, window, picture, 704, 576, CellRect{0, 0, 640, 480});

    // Inner area (6,6)-(634,474); 512 columns scale to 456 (628/704 truncated),
    // 512 rows to 416 (468/576); the last column and row end at R-6 and B-6.
    const auto& quads = renderer.RenderImpl()->LastQuads();
    ASSERT_EQ(quads.size(), 4u);
    ExpectQuad(quads[0], 6, 6, 462, 422, 512, 512);
    ExpectQuad(quads[1], 6, 422, 462, 474, 512, 64);
    ExpectQuad(quads[2], 462, 6, 634, 422, 192, 512);
    ExpectQuad(quads[3], 462, 422, 634, 474, 192, 64);
    EXPECT_EQ(quads[3].srcX, 512);
    EXPECT_EQ(quads[3].srcY, 512);

    const QImage image = renderer.BackBuffer();
    EXPECT_EQ(Pixel(image, 234, 214), kRed);
    EXPECT_EQ(Pixel(image, 234, 448), kBlue);
    EXPECT_EQ(Pixel(image, 548, 214), kGreen);
    EXPECT_EQ(Pixel(image, 548, 448), kWhite);
    EXPECT_EQ(window.presents, 1);
}

TEST_F(TilingTest, ColumnEdgesAccumulateWithTruncation) {
    // 1280 columns into 999 pixels: 399.6 per full tile. Accumulated and
    // truncated: 399, then trunc(399 + 399.6) = 798 (not trunc(799.2) = 799).
    const auto picture = SolidPicture(1280, 100, kBlue);
    FakeWindow window(1011, 120);
    CVideoRenderer renderer;
    Draw(renderer, window, picture, 1280, 100, CellRect{0, 0, 1011, 120});
    const auto& quads = renderer.RenderImpl()->LastQuads();
    ASSERT_EQ(quads.size(), 3u);
    ExpectQuad(quads[0], 6, 6, 405, 114, 512, 100);
    ExpectQuad(quads[1], 405, 6, 804, 114, 512, 100);
    ExpectQuad(quads[2], 804, 6, 1005, 114, 256, 100);
}

TEST_F(TilingTest, CifPictureIsOneTileWithHalfTexelStart) {
    const auto picture = SolidPicture(352, 288, kGreen);
    FakeWindow window(400, 300);
    CVideoRenderer renderer;
    Draw(renderer, window, picture, 352, 288, CellRect{0, 0, 400, 300});
    const auto& quads = renderer.RenderImpl()->LastQuads();
    ASSERT_EQ(quads.size(), 1u);
    ExpectQuad(quads[0], 6, 6, 394, 294, 352, 288);
    EXPECT_FLOAT_EQ(quads[0].u0, 0.5f / 512);
    EXPECT_FLOAT_EQ(quads[0].v0, 0.5f / 512);
    EXPECT_FLOAT_EQ(quads[0].u1, 352.0f / 512);
    EXPECT_FLOAT_EQ(quads[0].v1, 288.0f / 512);
}

TEST_F(TilingTest, PaddedCodedHeightsAreCropped) {
    // 1088 rows: the 8 padding rows (red) never reach the window. At 1:1 the
    // last drawn row is exactly the picture's row 1079.
    const auto picture =
        MakePicture(1920, 1088, [](int, int y) { return y >= 1080 ? kRed : kBlue; });
    FakeWindow window(1932, 1092);
    CVideoRenderer renderer;
    Draw(renderer, window, picture, 1920, 1088, CellRect{0, 0, 1932, 1092});
    const auto& quads = renderer.RenderImpl()->LastQuads();
    ASSERT_EQ(quads.size(), 12u); // 4 columns x 3 rows (512, 512, 56)
    EXPECT_EQ(quads[2].tileH, 56);
    EXPECT_EQ(quads[2].y1, 1086);
    const QImage image = renderer.BackBuffer();
    for (int x : {6, 700, 1925})
        EXPECT_EQ(Pixel(image, x, 1085), kBlue) << x;

    const auto small = MakePicture(160, 128, [](int, int y) { return y >= 120 ? kRed : kBlue; });
    FakeWindow smallWindow(172, 132);
    CVideoRenderer smallRenderer;
    Draw(smallRenderer, smallWindow, small, 160, 128, CellRect{0, 0, 172, 132});
    ASSERT_EQ(smallRenderer.RenderImpl()->LastQuads().size(), 1u);
    EXPECT_EQ(smallRenderer.RenderImpl()->LastQuads()[0].tileH, 120);
    EXPECT_EQ(Pixel(smallRenderer.BackBuffer(), 80, 125), kBlue);
}

TEST_F(TilingTest, PictureLandsInItsCellAndOtherCellsKeepTheirs) {
    FakeWindow window(640, 480);
    CVideoRenderer renderer;
    const auto red = SolidPicture(308, 228, kRed);
    Draw(renderer, window, red, 308, 228, CellRect{0, 0, 320, 240});
    // Cell 2 of a 2 x 2 split, inner area exactly the picture's size.
    const auto gradient =
        MakePicture(308, 228, [](int x, int y) { return qRgb((x * 7 + y * 3) & 255, y, x & 255); });
    Draw(renderer, window, gradient, 308, 228, CellRect{320, 0, 640, 240});

    const QImage image = window.lastPresented;
    ASSERT_EQ(image.size(), QSize(640, 480));
    for (auto [x, y] : {std::pair{0, 0}, {307, 0}, {0, 227}, {307, 227}, {150, 100}, {40, 200}})
        EXPECT_EQ(Pixel(image, 326 + x, 6 + y), qRgb((x * 7 + y * 3) & 255, y, x & 255))
            << x << "," << y;
    // The first cell still shows its picture; the rest of the window is black.
    EXPECT_EQ(Pixel(image, 160, 120), kRed);
    EXPECT_EQ(Pixel(image, 320, 360), kBlack);
}

TEST_F(TilingTest, NullPictureDrawsFrameOnlyAndPresents) {
    FakeWindow window(400, 300);
    CVideoRenderer renderer;
    Draw(renderer, window, {}, 352, 288, CellRect{0, 0, 400, 300});
    EXPECT_TRUE(renderer.RenderImpl()->LastQuads().empty());
    const auto overlays = renderer.RenderImpl()->Overlays();
    EXPECT_EQ(overlays.size(), 6u); // the frame; no title, no time
    EXPECT_EQ(window.presents, 1);
}

TEST(LetterboxTest, FitsThePictureCentredInTheRectangle) {
    CRasterRenderImpl impl; // no device: only the geometry
    // Field-height D1 is fitted as 704 x 480: 400 x 272, in by 64 top and bottom.
    CellRect rect{0, 0, 400, 400};
    impl.Letterbox(rect, CellRect{0, 0, 704, 240});
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.right, 400);
    EXPECT_EQ(rect.top, 64);
    EXPECT_EQ(rect.bottom, 336);
    // 704 x 288 as 704 x 576: h = 327, in by 36.
    rect = {0, 0, 400, 400};
    impl.Letterbox(rect, CellRect{0, 0, 704, 288});
    EXPECT_EQ(rect.top, 36);
    EXPECT_EQ(rect.bottom, 364);
    // Too wide: 704 x 480 in 800 x 300 is 440 wide, in by 180 left and right.
    rect = {100, 10, 900, 310};
    impl.Letterbox(rect, CellRect{0, 0, 704, 480});
    EXPECT_EQ(rect.left, 280);
    EXPECT_EQ(rect.right, 720);
    EXPECT_EQ(rect.top, 10);
    EXPECT_EQ(rect.bottom, 310);
}

TEST_F(TilingTest, KeepAspectClearsTheCellAndDrawsInsideTheBox) {
    FakeWindow window(400, 400);
    CVideoRenderer renderer;
    Draw(renderer, window, SolidPicture(704, 240, kWhite), 704, 240, CellRect{0, 0, 400, 400});
    renderer.SetFitToWindow(0);
    Draw(renderer, window, SolidPicture(704, 240, kGreen), 704, 240, CellRect{0, 0, 400, 400});
    const auto& quads = renderer.RenderImpl()->LastQuads();
    ASSERT_EQ(quads.size(), 2u);
    ExpectQuad(quads[0], 6, 70, 288, 330, 512, 240);
    ExpectQuad(quads[1], 288, 70, 394, 330, 192, 240);
    const QImage image = renderer.BackBuffer();
    EXPECT_EQ(Pixel(image, 200, 40), kBlack); // the old white picture was cleared
    EXPECT_EQ(Pixel(image, 200, 360), kBlack);
    EXPECT_EQ(Pixel(image, 200, 200), kGreen);
}

using LifecycleTest = RendererTest;

TEST_F(LifecycleTest, EmptyCellNullWindowOrNoScreenDrawNothing) {
    const auto picture = SolidPicture(64, 64, kRed);
    CVideoRenderer renderer;
    FakeWindow window(320, 240);
    Draw(renderer, window, picture, 64, 64, CellRect{100, 0, 100, 240});
    renderer.DrawChannel(nullptr, 0, 64, 64, picture.data(), 0, 0, CellRect{0, 0, 64, 64},
                         CellRect{0, 0, 320, 240}, nullptr);
    FakeWindow offScreen(320, 240, 0);
    Draw(renderer, offScreen, picture, 64, 64, CellRect{0, 0, 320, 240});
    EXPECT_EQ(renderer.RenderImpl(), nullptr);
    EXPECT_EQ(window.presents + offScreen.presents, 0);
    EXPECT_FALSE(renderer.Clear());
}

TEST_F(LifecycleTest, OneDimensionResizeKeepsTheSurfaceBothRebuildIt) {
    DiagnosticsCapture log;
    const auto picture = SolidPicture(64, 64, kRed);
    FakeWindow window(400, 300);
    CVideoRenderer renderer;
    Draw(renderer, window, picture, 64, 64, CellRect{0, 0, 200, 150});
    const CRasterRenderImpl* first = renderer.RenderImpl();

    window.width = 500; // width only: kept, the window stretches the surface
    Draw(renderer, window, picture, 64, 64, CellRect{0, 0, 250, 150});
    Draw(renderer, window, picture, 64, 64, CellRect{0, 0, 250, 150});
    EXPECT_EQ(renderer.RenderImpl(), first);
    EXPECT_EQ(renderer.BackBuffer().size(), QSize(400, 300));

    window.height = 350; // now both differ: this draw still uses the old surface
    Draw(renderer, window, picture, 64, 64, CellRect{0, 0, 250, 175});
    EXPECT_EQ(renderer.BackBuffer().size(), QSize(400, 300));
    EXPECT_EQ(Count(log.Lines(), "*** DELETE *** CD3DRENDERIMPL\n"), 0);
    Draw(renderer, window, picture, 64, 64, CellRect{0, 0, 250, 175});
    EXPECT_EQ(renderer.BackBuffer().size(), QSize(500, 350));
    EXPECT_EQ(Count(log.Lines(), "*** DELETE *** CD3DRENDERIMPL\n"), 1);
    EXPECT_EQ(Count(log.Lines(), "*** NEW *** CD3DRENDERIMPL\n"), 2);

    window.screen = 2; // another screen rebuilds at once
    Draw(renderer, window, picture, 64, 64, CellRect{0, 0, 250, 175});
    EXPECT_EQ(Count(log.Lines(), "*** DELETE *** CD3DRENDERIMPL\n"), 2);
    EXPECT_EQ(window.presents, 6);
}

TEST_F(LifecycleTest, DeviceNotResetAsksForOneResetUntilItIsHandled) {
    DiagnosticsCapture log;
    const auto picture = SolidPicture(64, 64, kRed);
    FakeWindow window(320, 240);
    CVideoRenderer renderer;
    Draw(renderer, window, picture, 64, 64, CellRect{0, 0, 320, 240});
    ASSERT_EQ(window.presents, 1);

    renderer.RenderImpl()->SetDeviceState(DeviceState::NotReset);
    for (int i = 0; i < 3; ++i)
        Draw(renderer, window, picture, 64, 64, CellRect{0, 0, 320, 240});
    EXPECT_EQ(window.resetRequests, 1);
    EXPECT_EQ(window.presents, 1);
    EXPECT_EQ(Count(log.Lines(), "D3DERR_DEVICENOTRESET\n"), 3);
    EXPECT_EQ(CVideoRenderer::s_resetRequested.load(), 1);

    renderer.ResetDevice();
    EXPECT_EQ(CVideoRenderer::s_resetRequested.load(), 0);
    Draw(renderer, window, picture, 64, 64, CellRect{0, 0, 320, 240});
    EXPECT_EQ(window.presents, 2);

    // A lost device skips draws without asking; a reset then fails, and once
    // the device waits for a reset again a new request goes out.
    renderer.RenderImpl()->SetDeviceState(DeviceState::Lost);
    Draw(renderer, window, picture, 64, 64, CellRect{0, 0, 320, 240});
    EXPECT_EQ(Count(log.Lines(), "DEVICE LOST\n"), 1);
    EXPECT_EQ(window.resetRequests, 1);
    renderer.ResetDevice();
    EXPECT_EQ(renderer.RenderImpl()->State(), DeviceState::Lost);
    renderer.RenderImpl()->SetDeviceState(DeviceState::NotReset);
    Draw(renderer, window, picture, 64, 64, CellRect{0, 0, 320, 240});
    EXPECT_EQ(window.resetRequests, 2);
    EXPECT_EQ(window.presents, 2);
}

TEST_F(LifecycleTest, SurfaceThatCannotBeMadeIsNoDeviceUntilRebuilt) {
    DiagnosticsCapture log;
    const auto picture = SolidPicture(64, 64, kRed);
    for (auto [w, h] : {std::pair{0, 0}, {20000, 100}}) {
        FakeWindow window(w, h);
        CVideoRenderer renderer;
        Draw(renderer, window, picture, 64, 64, CellRect{0, 0, 320, 240});
        ASSERT_NE(renderer.RenderImpl(), nullptr);
        EXPECT_FALSE(renderer.HasDevice());
        EXPECT_FALSE(renderer.Clear());
        EXPECT_EQ(window.presents, 0);
        EXPECT_EQ(window.resetRequests, 0);

        window.width = 320;
        window.height = 240;
        Draw(renderer, window, picture, 64, 64, CellRect{0, 0, 320, 240}); // notices
        Draw(renderer, window, picture, 64, 64, CellRect{0, 0, 320, 240}); // rebuilds
        EXPECT_TRUE(renderer.HasDevice());
        EXPECT_EQ(window.presents, 1);
        EXPECT_TRUE(renderer.Clear());
        EXPECT_EQ(Pixel(renderer.BackBuffer(), 160, 120), kBlack);
    }
    EXPECT_EQ(Count(log.Lines(), "CREATEDEVICE hr = 0x80004005\n"), 2);
}

} // namespace
} // namespace qm::test
