#pragma once
// The device renderer behind CVideoRenderer: a raster surface the size of the
// window's client area (the back buffer, which keeps its content between
// presents), a 512 x 512 tile grid over which every picture is drawn scaled
// with bilinear filtering (each tile on its own, read in place from the
// picture), two fonts and the overlays of the current draw.
//
// The surface has a device state like a display device: usable, lost (draws are
// skipped) and not reset (a reset on the window's thread makes it usable).
// A surface that cannot be made at the window's size is no device at all.

#include "render/overlay.h"
#include "render/picture_scale.h"
#include "render/video_renderer.h"

#include <QFont>
#include <QImage>

#include <cstdint>
#include <optional>
#include <vector>

namespace qm {

// Results of the device operations.
enum class RenderResult { kOk, kFail, kPointer, kOutOfMemory, kDeviceLost, kDeviceNotReset };

// The code the diagnostic lines print for a result ("CREATETEXTURE hr = %0#x"),
// as the display device's own calls reported it.
constexpr uint32_t ResultCode(RenderResult result) {
    switch (result) {
    case RenderResult::kOk:
        return 0;
    case RenderResult::kFail:
        return 0x80004005u;
    case RenderResult::kPointer:
        return 0x80004003u;
    case RenderResult::kOutOfMemory:
        return 0x8007000Eu;
    case RenderResult::kDeviceLost:
        return 0x88760868u;
    case RenderResult::kDeviceNotReset:
        return 0x88760869u;
    }
    return 0x80004005u;
}

enum class DeviceState { Usable, Lost, NotReset };

// One tile drawn by DrawPicture: the part of the picture it took, the target
// quad and its texture coordinates in the tile image.
struct TileQuad {
    int srcX = 0, srcY = 0, tileW = 0, tileH = 0;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    float u0 = 0, v0 = 0, u1 = 0, v1 = 0;
};

class CRasterRenderImpl {
public:
    static constexpr int kTextureSize = 512;
    static constexpr int kFrameInset = 6;
    // Largest surface made: beyond this the device cannot be created.
    static constexpr int kMaxSurfaceSide = 16384;
    static constexpr int64_t kMaxSurfacePixels = int64_t(8192) * 8192;

    CRasterRenderImpl();
    virtual ~CRasterRenderImpl();
    CRasterRenderImpl(const CRasterRenderImpl&) = delete;
    CRasterRenderImpl& operator=(const CRasterRenderImpl&) = delete;

    RenderResult Initialize(IRenderWindow* window);
    RenderResult CheckDevice();
    // Keep-aspect fitting of rect for a picture of sourceRect's size, in place;
    // clears rect to black first.
    void Letterbox(CellRect& rect, const CellRect& sourceRect);
    // Pictures drawn from now on take their nearest pixels instead of being smoothed.
    void SetSharp(bool sharp) { m_bSharp = sharp; }
    RenderResult DrawPicture(const uint8_t* picture, int pictureWidth, const CellRect& target,
                             const CellRect& sourceRect);
    RenderResult Present();
    RenderResult Salvage();
    RenderResult Clear();
    void ClearRect(const CellRect& rect);

    int ClearOverlays();
    void DrawOverlays();
    void AddChannelFrame(int selected, const CellRect& rect);
    void AddTitleAndTime(const uint8_t* title, uint64_t time, const CellRect& rect);
    void AddRectangle(int left, int top, int right, int bottom, int width, uint32_t colour);
    void AddText(const CellRect& rect, uint32_t colour);  // text in the narrow scratch
    void AddTextW(const CellRect& rect, uint32_t colour); // text in the wide scratch

    bool HasDevice() const { return !m_backBuffer.isNull(); }
    const QImage& BackBufferImage() const { return m_backBuffer; }
    int ClientWidth() const { return m_nClientWidth; }
    int ClientHeight() const { return m_nClientHeight; }
    IRenderWindow* Window() const { return m_pWindow; }

    // Puts the device into a state, as a display device can be put by the
    // system (a lost device, or one waiting for a reset).
    void SetDeviceState(DeviceState state) { m_state = state; }
    DeviceState State() const { return m_state; }
    // The quads of the last DrawPicture, in drawing order.
    const std::vector<TileQuad>& LastQuads() const { return m_lastQuads; }
    std::vector<OverlayInfo> Overlays() const { return m_overlays.Infos(); }

private:
    void CreateFonts();
    void DrawQuad(const TileQuad& quad, const ScaleSource& tile);

    IRenderWindow* m_pWindow = nullptr;
    QImage m_backBuffer; // the device: null when it could not be made
    QImage m_texture;    // the 512 x 512 tile
    DeviceState m_state = DeviceState::Usable;
    int m_nTileWidth = 0;
    int m_nTileHeight = 0;
    int m_nClientWidth = 0;
    int m_nClientHeight = 0;
    int m_nTextureWidth = kTextureSize;
    int m_nTextureHeight = kTextureSize;
    int m_nBytesPerPixel = 4;
    int m_nNextOverlayId = 0;
    char m_szText[520] = {};
    char16_t m_wszText[260] = {};
    OverlayStore m_overlays;
    std::optional<QFont> m_narrowFont;
    std::optional<QFont> m_wideFont;
    std::vector<TileQuad> m_lastQuads;
    bool m_bSharp = false;
};

// Calendar fields of a count of 100-ns units since 1601-01-01, no time zone.
struct CalendarTime {
    int year, month, day, hour, minute, second;
};
CalendarTime CalendarFromFileTime(uint64_t time);

} // namespace qm
