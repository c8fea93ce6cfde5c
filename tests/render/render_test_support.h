#pragma once

#include "render/raster_render_impl.h"
#include "render/video_renderer.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qm::test {

class FakeWindow : public IRenderWindow {
public:
    FakeWindow(int width, int height, int screen = 1)
        : width(width), height(height), screen(screen) {}
    int ClientWidth() const override { return width; }
    int ClientHeight() const override { return height; }
    int ScreenId() const override { return screen; }
    void Present(const QImage& backBuffer) override {
        ++presents;
        lastPresented = backBuffer;
    }
    void RequestReset() override { ++resetRequests; }

    int width, height, screen;
    int presents = 0;
    int resetRequests = 0;
    QImage lastPresented;
};

// A picture of B, G, R, X pixels with the colour of each pixel from rgb(x, y).
inline std::vector<uint8_t> MakePicture(int width, int height,
                                        const std::function<QRgb(int, int)>& rgb) {
    std::vector<uint8_t> picture(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const QRgb c = rgb(x, y);
            uint8_t* p = &picture[(size_t(y) * width + x) * 4];
            p[0] = uint8_t(qBlue(c));
            p[1] = uint8_t(qGreen(c));
            p[2] = uint8_t(qRed(c));
            p[3] = 0x5A; // ignored
        }
    return picture;
}

inline std::vector<uint8_t> SolidPicture(int width, int height, QRgb colour) {
    return MakePicture(width, height, [colour](int, int) { return colour; });
}

inline QRgb Pixel(const QImage& image, int x, int y) {
    return image.pixel(x, y) | 0xFF000000u;
}

inline int Count(const std::vector<std::string>& lines, const std::string& line) {
    int n = 0;
    for (const auto& l : lines)
        n += l == line;
    return n;
}

// Draws a whole picture of the given size into dest.
inline void Draw(CVideoRenderer& renderer, FakeWindow& window, const std::vector<uint8_t>& picture,
                 int width, int height, CellRect dest, int selected = 0, uint64_t time = 0,
                 const uint8_t* title = nullptr) {
    static const uint8_t kNoTitle[32] = {};
    renderer.DrawChannel(&window, 0, width, height, picture.empty() ? nullptr : picture.data(),
                         selected, time, CellRect{0, 0, width, height}, dest,
                         title ? title : kNoTitle);
}

class RendererTest : public ::testing::Test {
protected:
    void SetUp() override { CVideoRenderer::s_resetRequested = 0; }
    void TearDown() override { CVideoRenderer::s_resetRequested = 0; }
};

} // namespace qm::test
