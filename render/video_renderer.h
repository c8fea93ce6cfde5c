#pragma once
// The renderer holder: draws one channel's decoded picture into its cell of a
// composed back buffer the size of the video window, adds the cell frame, the
// title and the time stamp, and presents the window. Callers hold the player's
// drawing lock around every call.

#include <QImage>
#include <QRect>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace qm {

// Left, top, right, bottom in window client coordinates (right/bottom exclusive).
struct CellRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const CellRect&) const = default;
};

// The rows of a picture that are shown: coded heights that carry padding
// rows below the picture show 1080 of 1088 and 120 of 128.
inline int ShownRows(int pictureHeight) {
    return pictureHeight == 1088 ? 1080 : pictureHeight == 128 ? 120 : pictureHeight;
}

// What the renderer needs of the window it draws for. The player widget
// implements it; tests use a plain object.
class IRenderWindow {
public:
    virtual ~IRenderWindow() = default;
    virtual int ClientWidth() const = 0;
    virtual int ClientHeight() const = 0;
    // An identifier of the screen the window is on; 0 when it has none.
    virtual int ScreenId() const = 0;
    // Show the back buffer; may be called from any thread.
    virtual void Present(const QImage& backBuffer) = 0;
    // Ask the window's own thread to call CVideoRenderer::ResetDevice (queued).
    virtual void RequestReset() = 0;
};

class CRasterRenderImpl; // the device renderer behind the holder
class OutputFiles;

class CVideoRenderer {
public:
    CVideoRenderer();
    ~CVideoRenderer();
    CVideoRenderer(const CVideoRenderer&) = delete;
    CVideoRenderer& operator=(const CVideoRenderer&) = delete;

    // picture: pictureWidth x pictureHeight pixels of B, G, R, X, stride
    // pictureWidth * 4. time: 100-ns units since 1601-01-01 (FILETIME), 0 none.
    // title: the 32-byte information block of the channel's frame record.
    void DrawChannel(IRenderWindow* window, int channel, int pictureWidth, int pictureHeight,
                     const uint8_t* picture, int selected, uint64_t time, CellRect sourceRect,
                     CellRect destRect, const uint8_t* title);
    // Fills the whole back buffer with opaque black; false when there is no device.
    bool Clear();
    // The window changed size: the next draw builds a surface of the new size
    // first, so that no picture drawn after the change lands on the old one.
    void RebuildAtNextDraw() { m_bRebuildPending = 1; }
    // Run on the window's thread after RequestReset().
    void ResetDevice();
    // Writes the back buffer as JPEG, BMP or PNG chosen by the extension
    // (JPEG otherwise), created through `outputs`. False, with `error` when
    // the file was refused or failed, or without a device.
    bool SaveSnapshot(OutputFiles& outputs, const QString& path, std::string* error = nullptr);

    void SetFitToWindow(int fit) { m_nFitToWindow = fit; }
    // The next DrawChannel draws its picture's pixels as squares (a zoomed
    // camera) or smoothed; the caller's draw lock orders it with the draw.
    void SetSharp(bool sharp) { m_bSharp = sharp; }
    int FitToWindow() const { return m_nFitToWindow; }
    bool HasDevice() const;
    // A copy of the back buffer (what the window shows), for tests and snapshots.
    QImage BackBuffer() const;
    // The live back buffer for painting, null without a device. The caller holds
    // the drawing lock while it uses it; nothing is copied.
    const QImage* BackBufferView() const;
    // The device renderer of the current binding; null before the first draw.
    CRasterRenderImpl* RenderImpl() const { return m_pRenderer.get(); }

    static std::atomic<int> s_resetRequested;

private:
    std::unique_ptr<CRasterRenderImpl> m_pRenderer;
    int m_nScreen = 0;
    IRenderWindow* m_pWindow = nullptr;
    std::atomic<int> m_nFitToWindow{1};
    bool m_bSharp = false;
    int m_bRebuildPending = 0;
    int m_bDestroyed = 0;
};

} // namespace qm
