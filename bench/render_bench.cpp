// Drawing one channel into its cell: the tile copy, the bilinear scaling, the
// cell frame, title and time stamp, as the display thread does for every
// frame. The window is the main window's video area (1030 x 640); the cells
// are those of the 1, 2 x 2 and 4 x 4 splits. Run offscreen, with fonts.

#include "render/picture_scale.h"
#include "render/video_renderer.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int kWindowW = 1030;
constexpr int kWindowH = 640;

class BenchWindow : public qm::IRenderWindow {
public:
    int ClientWidth() const override { return kWindowW; }
    int ClientHeight() const override { return kWindowH; }
    int ScreenId() const override { return 1; }
    void Present(const QImage&) override { ++presents; }
    void RequestReset() override {}
    int presents = 0;
};

std::vector<uint8_t> TestPicture(int width, int height) {
    std::vector<uint8_t> picture(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &picture[(size_t(y) * width + x) * 4];
            p[0] = uint8_t(x * 3 + y);
            p[1] = uint8_t(x ^ y);
            p[2] = uint8_t(y * 2);
            p[3] = 0;
        }
    return picture;
}

// split: cells per side; fit: 1 stretches to the cell, 0 letterboxes.
void BM_DrawChannel(benchmark::State& state, int pictureW, int pictureH) {
    const int split = int(state.range(0));
    const int fit = int(state.range(1));
    const std::vector<uint8_t> picture = TestPicture(pictureW, pictureH);
    uint8_t title[32] = {'C', 0, 'A', 0, 'M', 0, ' ', 0, '1', 0};
    BenchWindow window;
    qm::CVideoRenderer renderer;
    renderer.SetFitToWindow(fit);
    const int cellW = kWindowW / split, cellH = kWindowH / split;
    const qm::CellRect cell{0, 0, cellW, cellH};
    const uint64_t time = 133000000000000000ull;
    for (auto _ : state)
        renderer.DrawChannel(&window, 0, pictureW, pictureH, picture.data(), 0, time,
                             qm::CellRect{0, 0, pictureW, pictureH}, cell, title);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::to_string(cellW) + "x" + std::to_string(cellH) + (fit ? "" : " letterbox"));
}

// The scaling alone: our bilinear scaler against QPainter's smooth drawImage
// (which the renderer used before, through a copied tile), D1 into a cell.
// Process CPU time: QPainter spreads large fills over helper threads.
void BM_ScaleOurs(benchmark::State& state) {
    const int cellW = int(state.range(0)), cellH = int(state.range(1));
    const std::vector<uint8_t> picture = TestPicture(704, 480);
    QImage surface(kWindowW, kWindowH, QImage::Format_RGB32);
    const qm::ScaleTarget target{surface.bits(), size_t(surface.bytesPerLine()), surface.width(),
                                 surface.height()};
    for (auto _ : state) {
        // Two tiles as the renderer draws them (512 and 192 columns), 6 pixels in.
        const int split = int(int64_t(cellW) * 512 / 704);
        qm::ScaleBilinear({picture.data(), 704 * 4, 512, 480}, target, 6, 6, split, cellH);
        qm::ScaleBilinear({picture.data() + 512 * 4, 704 * 4, 192, 480}, target, split, 0, cellW,
                          cellH);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(cellW) * cellH);
}

void BM_ScaleQPainter(benchmark::State& state) {
    const int cellW = int(state.range(0)), cellH = int(state.range(1));
    const std::vector<uint8_t> picture = TestPicture(704, 480);
    QImage surface(kWindowW, kWindowH, QImage::Format_RGB32);
    QImage texture(512, 512, QImage::Format_RGB32);
    for (auto _ : state) {
        const int split = int(int64_t(cellW) * 512 / 704);
        for (int c = 0; c < 2; ++c) {
            const int srcX = c == 0 ? 0 : 512, tileW = c == 0 ? 512 : 192;
            for (int y = 0; y < 480; ++y)
                std::memcpy(texture.bits() + size_t(y) * texture.bytesPerLine(),
                            picture.data() + size_t(y) * 704 * 4 + size_t(srcX) * 4,
                            size_t(tileW) * 4);
            const QImage tile(texture.constBits(), tileW, 480, texture.bytesPerLine(),
                              QImage::Format_RGB32);
            QPainter painter(&surface);
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            const int x0 = c == 0 ? 0 : split, x1 = c == 0 ? split : cellW;
            painter.drawImage(QRect(x0, 0, x1 - x0, cellH), tile);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(cellW) * cellH);
}

BENCHMARK(BM_ScaleOurs)
    ->ArgNames({"w", "h"})
    ->Args({1018, 628})
    ->Args({245, 148})
    ->MeasureProcessCPUTime();
BENCHMARK(BM_ScaleQPainter)
    ->ArgNames({"w", "h"})
    ->Args({1018, 628})
    ->Args({245, 148})
    ->MeasureProcessCPUTime();

BENCHMARK_CAPTURE(BM_DrawChannel, D1, 704, 480)
    ->ArgNames({"split", "fit"})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({4, 1})
    ->Args({4, 0})
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_DrawChannel, FullHD, 1920, 1088)
    ->ArgNames({"split", "fit"})
    ->Args({1, 1})
    ->Args({2, 1})
    ->MeasureProcessCPUTime();

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
