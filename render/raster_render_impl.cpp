#include "render/raster_render_impl.h"

#include "platform/diagnostics.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>

#include <cstdio>
#include <cstring>

namespace qm {

namespace {

QRect ToQRect(const CellRect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// Days since 1970-01-01 to a proleptic Gregorian date.
void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

constexpr int64_t kDaysFrom1601To1970 = 134774;

} // namespace

CalendarTime CalendarFromFileTime(uint64_t time) {
    const uint64_t seconds = time / 10000000u;
    const int64_t days = static_cast<int64_t>(seconds / 86400u);
    const int secondOfDay = static_cast<int>(seconds % 86400u);
    CalendarTime t{};
    CivilFromDays(days - kDaysFrom1601To1970, t.year, t.month, t.day);
    t.hour = secondOfDay / 3600;
    t.minute = secondOfDay / 60 % 60;
    t.second = secondOfDay % 60;
    return t;
}

CRasterRenderImpl::CRasterRenderImpl() = default;

CRasterRenderImpl::~CRasterRenderImpl() {
    m_backBuffer = QImage();
    m_texture = QImage();
    m_narrowFont.reset();
    m_wideFont.reset();
    m_overlays.DeleteAll();
    m_overlays.Clear();
}

void CRasterRenderImpl::CreateFonts() {
    m_narrowFont.reset();
    m_wideFont.reset();
    // Text needs the font database of a GUI application; without one the text
    // overlays draw nothing.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    QFont font(QStringLiteral("monospace"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(16);
    font.setBold(true);
    m_narrowFont = font;
    m_wideFont = font;
}

RenderResult CRasterRenderImpl::Initialize(IRenderWindow* window) {
    m_pWindow = window;
    m_state = DeviceState::Usable;
    m_nClientWidth = window ? window->ClientWidth() : 0;
    m_nClientHeight = window ? window->ClientHeight() : 0;
    const bool sizeOk = m_nClientWidth > 0 && m_nClientHeight > 0 &&
                        m_nClientWidth <= kMaxSurfaceSide && m_nClientHeight <= kMaxSurfaceSide &&
                        int64_t(m_nClientWidth) * m_nClientHeight <= kMaxSurfacePixels;
    if (sizeOk) m_backBuffer = QImage(m_nClientWidth, m_nClientHeight, QImage::Format_RGB32);
    if (m_backBuffer.isNull()) {
        qmLog("CREATEDEVICE hr = %0#x\n", unsigned(ResultCode(RenderResult::kFail)));
        return RenderResult::kFail;
    }
    CreateFonts();
    m_texture = QImage(m_nTextureWidth, m_nTextureHeight, QImage::Format_RGB32);
    if (m_texture.isNull())
        qmLog("CREATETEXTURE hr = %0#x width = %d height = %d\n",
              unsigned(ResultCode(RenderResult::kOutOfMemory)), m_nTextureWidth, m_nTextureHeight);
    return Clear();
}

RenderResult CRasterRenderImpl::CheckDevice() {
    if (!HasDevice()) return RenderResult::kFail;
    switch (m_state) {
    case DeviceState::Lost:
        qmLog("DEVICE LOST\n");
        return RenderResult::kDeviceLost;
    case DeviceState::NotReset:
        qmLog("D3DERR_DEVICENOTRESET\n");
        return RenderResult::kDeviceNotReset;
    case DeviceState::Usable:
        break;
    }
    return RenderResult::kOk;
}

RenderResult CRasterRenderImpl::Clear() {
    if (!HasDevice()) return RenderResult::kFail;
    m_backBuffer.fill(QColor::fromRgba(0xFF000000u));
    return RenderResult::kOk;
}

void CRasterRenderImpl::ClearRect(const CellRect& rect) {
    if (!HasDevice()) return;
    QPainter painter(&m_backBuffer);
    painter.fillRect(ToQRect(rect), QColor::fromRgba(0xFF000000u));
}

void CRasterRenderImpl::Letterbox(CellRect& rect, const CellRect& sourceRect) {
    ClearRect(rect);
    const int srcW = sourceRect.Width();
    int srcH = sourceRect.Height();
    // Field-height pictures are shown at full height.
    if (srcW == 704 && (srcH == 240 || srcH == 288)) srcH *= 2;
    if (srcW <= 0 || srcH <= 0) return;
    const int dstW = rect.Width();
    const int dstH = rect.Height();
    if (int64_t(dstW) * srcH / srcW >= dstH) {
        const int w = static_cast<int>(double(dstH) * srcW / srcH);
        const int m = (dstW - w) / 2;
        rect.left += m;
        rect.right -= m;
    } else {
        const int h = static_cast<int>(double(dstW) * srcH / srcW);
        const int m = (dstH - h) / 2;
        rect.top += m;
        rect.bottom -= m;
    }
}

RenderResult CRasterRenderImpl::DrawPicture(const uint8_t* picture, int pictureWidth,
                                            const CellRect& target, const CellRect& sourceRect) {
    m_lastQuads.clear();
    if (!picture) return RenderResult::kPointer;
    const int L = target.left + kFrameInset, T = target.top + kFrameInset;
    const int R = target.right - kFrameInset, B = target.bottom - kFrameInset;
    const int16_t srcW = static_cast<int16_t>(sourceRect.Width());
    const int16_t srcH = static_cast<int16_t>(sourceRect.Height());
    const int columns = (srcW + kTextureSize - 1) / kTextureSize;
    const int rows = (srcH + kTextureSize - 1) / kTextureSize;
    if (columns <= 0 || rows <= 0) return RenderResult::kOk;
    const float sx = static_cast<float>(R - L) / srcW;
    const float sy = static_cast<float>(B - T) / srcH;
    const size_t stride = size_t(pictureWidth) * 4;
    RenderResult result = RenderResult::kOk;

    int16_t xAcc = 0;
    int srcX = 0;
    for (int c = 0; c < columns; ++c) {
        const int tileW = (c + 1) * kTextureSize < srcW ? kTextureSize : srcW - c * kTextureSize;
        const int x0 = L + xAcc;
        const int16_t xNext = static_cast<int16_t>(static_cast<int>(xAcc + tileW * sx));
        const bool lastColumn = c == columns - 1;
        const int x1 = lastColumn ? R : (tileW == kTextureSize ? L + xNext : R);
        int16_t yAcc = 0;
        int srcY = 0;
        for (int r = 0; r < rows; ++r) {
            const int tileH =
                (r + 1) * kTextureSize < srcH ? kTextureSize : srcH - r * kTextureSize;
            if (m_texture.isNull()) {
                qmLog("TEXTURE LOCKRECT hr = %0#x\n", unsigned(ResultCode(RenderResult::kFail)));
            } else {
                // The tile is sampled where it lies in the picture: copying it
                // out first would cost a whole picture of memory traffic per draw.
                const ScaleSource tile{picture + size_t(sourceRect.top + srcY) * stride +
                                           size_t(sourceRect.left + srcX) * 4,
                                       stride, tileW, tileH};
                result = RenderResult::kOk;
                m_nTileWidth = tileW;
                m_nTileHeight = tileH;
                const int y0 = T + yAcc;
                const int16_t yNext = static_cast<int16_t>(static_cast<int>(yAcc + tileH * sy));
                const int y1 = tileH == kTextureSize ? T + yNext : B;
                TileQuad quad;
                quad.srcX = srcX;
                quad.srcY = srcY;
                quad.tileW = tileW;
                quad.tileH = tileH;
                quad.x0 = x0;
                quad.y0 = y0;
                quad.x1 = x1;
                quad.y1 = y1;
                quad.u0 = 0.5f / m_nTextureWidth;
                quad.v0 = 0.5f / m_nTextureHeight;
                quad.u1 = static_cast<float>(tileW) / m_nTextureWidth;
                quad.v1 = static_cast<float>(tileH) / m_nTextureHeight;
                DrawQuad(quad, tile);
                yAcc = yNext;
            }
            srcY += tileH;
        }
        srcX += tileW;
        xAcc = xNext;
    }
    if (result != RenderResult::kOk) qmLog("PUZZLELETTERBOX FAILED\n");
    return result;
}

void CRasterRenderImpl::DrawQuad(const TileQuad& quad, const ScaleSource& tile) {
    if (quad.x1 <= quad.x0 || quad.y1 <= quad.y0 || !HasDevice()) {
        qmLog("TEXTURELETTERBOXING\tFAILED\n");
        return;
    }
    m_lastQuads.push_back(quad);
    // Bilinear over the tile alone, so that the filter never reaches into the
    // neighbouring tiles; the half-texel start of u0/v0 maps pixel centres
    // onto texel centres, which the scaler does.
    const ScaleTarget surface{m_backBuffer.bits(), size_t(m_backBuffer.bytesPerLine()),
                              m_backBuffer.width(), m_backBuffer.height()};
    if (m_bSharp)
        ScaleNearest(tile, surface, quad.x0, quad.y0, quad.x1, quad.y1);
    else
        ScaleBilinear(tile, surface, quad.x0, quad.y0, quad.x1, quad.y1);
}

RenderResult CRasterRenderImpl::Present() {
    if (!HasDevice() || !m_pWindow) return RenderResult::kPointer;
    m_pWindow->Present(m_backBuffer);
    return RenderResult::kOk;
}

RenderResult CRasterRenderImpl::Salvage() {
    if (!HasDevice()) return RenderResult::kFail;
    m_narrowFont.reset();
    m_wideFont.reset();
    // A lost device cannot be reset until the system gives it back.
    if (m_state == DeviceState::Lost) {
        qmLog("SALVAGED3DDEVICE RESET hr = %0#x\n",
              unsigned(ResultCode(RenderResult::kDeviceLost)));
        return RenderResult::kDeviceLost;
    }
    m_state = DeviceState::Usable;
    CreateFonts();
    return RenderResult::kOk;
}

int CRasterRenderImpl::ClearOverlays() {
    if (m_overlays.Size() != 0) {
        m_overlays.DeleteAll();
        m_overlays.Clear();
        m_nNextOverlayId = 0;
    }
    return 0;
}

void CRasterRenderImpl::DrawOverlays() {
    if (!HasDevice()) return;
    QPainter painter(&m_backBuffer);
    m_overlays.DrawAll(painter);
}

void CRasterRenderImpl::AddRectangle(int left, int top, int right, int bottom, int width,
                                     uint32_t colour) {
    m_overlays.Insert(static_cast<int16_t>(m_nNextOverlayId++),
                      std::make_unique<RectangleOverlay>(left, top, right, bottom, width, colour));
}

void CRasterRenderImpl::AddText(const CellRect& rect, uint32_t colour) {
    m_overlays.Insert(static_cast<int16_t>(m_nNextOverlayId++),
                      std::make_unique<TextOverlay>(m_narrowFont, m_szText, rect, colour));
}

void CRasterRenderImpl::AddTextW(const CellRect& rect, uint32_t colour) {
    m_overlays.Insert(static_cast<int16_t>(m_nNextOverlayId++),
                      std::make_unique<TextWOverlay>(m_wideFont, m_wszText, rect, colour));
}

void CRasterRenderImpl::AddChannelFrame(int selected, const CellRect& rect) {
    static constexpr uint32_t kNormal[6] = {0xFF000000, 0xFF323232, 0xFF505050,
                                            0xFF6E6E6E, 0xFF969696, 0xFFBEBEBE};
    static constexpr uint32_t kSelected[6] = {0xFF000000, 0xFF323232, 0xFF505050,
                                              0xFF6E6E6E, 0xFF00FF00, 0xFF00FF00};
    const uint32_t* colours = selected ? kSelected : kNormal;
    for (int d = 0; d < 6; ++d)
        AddRectangle(rect.left + d, rect.top + d, rect.right - d, rect.bottom - d, 1, colours[d]);
}

void CRasterRenderImpl::AddTitleAndTime(const uint8_t* title, uint64_t time, const CellRect& rect) {
    const int L = rect.left, T = rect.top, B = rect.bottom;
    const int w = static_cast<int16_t>(rect.right - rect.left);
    int x, y, tw;
    if (w >= 150) {
        x = L + 10;
        y = T + 10;
        tw = w - 20;
    } else {
        x = L + 2;
        y = T + 2;
        tw = w - 12;
    }
    const CellRect titleRect{x - 1, y - 1, L + tw + 2, y + 100};

    // The title: 32 bytes read as up to 16 little-endian UTF-16 units; the
    // zero-filled scratch terminates it even when all 16 are used.
    memset(m_wszText, 0, sizeof(m_wszText));
    if (title)
        for (int i = 0; i < 16; ++i)
            m_wszText[i] = static_cast<char16_t>(title[2 * i] | (title[2 * i + 1] << 8));
    AddTextW(titleRect, 0xFF000000);
    AddTextW(
        CellRect{titleRect.left - 1, titleRect.top - 1, titleRect.right - 1, titleRect.bottom - 1},
        0xFFFFFFFF);

    // Narrow cells show no time.
    if (w <= 170) return;
    const CalendarTime t = CalendarFromFileTime(time);
    snprintf(m_szText, sizeof(m_szText), "%02d/%02d/%d  %02d:%02d:%02d %s", t.year, t.month, t.day,
             t.hour, t.minute, t.second, "");
    const CellRect timeRect{L + 9, B - 23, L + tw + 2, B + 78};
    AddText(timeRect, 0xFF000000);
    AddText(CellRect{timeRect.left - 1, timeRect.top - 1, timeRect.right - 1, timeRect.bottom - 1},
            0xFFFFFFFF);
}

} // namespace qm
