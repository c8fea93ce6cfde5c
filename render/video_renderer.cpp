#include "render/video_renderer.h"

#include "platform/diagnostics.h"
#include "render/image_file.h"
#include "render/raster_render_impl.h"

#include <QFile>

#include <algorithm>

namespace qm {

std::atomic<int> CVideoRenderer::s_resetRequested{0};

CVideoRenderer::CVideoRenderer() = default;

CVideoRenderer::~CVideoRenderer() {
    if (!m_bDestroyed) {
        m_bDestroyed = 1;
        m_pRenderer.reset();
    }
}

void CVideoRenderer::DrawChannel(IRenderWindow* window, int channel, int pictureWidth,
                                 int pictureHeight, const uint8_t* picture, int selected,
                                 uint64_t time, CellRect sourceRect, CellRect destRect,
                                 const uint8_t* title) {
    (void)channel;
    if (ShownRows(pictureHeight) != pictureHeight)
        sourceRect.bottom = sourceRect.top + ShownRows(pictureHeight);
    // Never read outside the picture.
    sourceRect.left = std::max(sourceRect.left, 0);
    sourceRect.top = std::max(sourceRect.top, 0);
    sourceRect.right = std::min(sourceRect.right, pictureWidth);
    sourceRect.bottom = std::min(sourceRect.bottom, pictureHeight);

    if (!window || destRect.left == destRect.right) return;
    const int screen = window->ScreenId();
    if (screen == 0) return;

    if (window != m_pWindow || screen != m_nScreen || m_bRebuildPending) {
        m_nScreen = screen;
        if (m_pRenderer) {
            m_pRenderer.reset();
            qmLog("*** DELETE *** CD3DRENDERIMPL\n");
        }
        m_pWindow = window;
    }
    if (!m_pRenderer) {
        m_pRenderer = std::make_unique<CRasterRenderImpl>();
        qmLog("*** NEW *** CD3DRENDERIMPL\n");
        m_pRenderer->Initialize(window);
        m_bRebuildPending = 0;
    }

    // A change of both dimensions rebuilds the surface at the next draw; a
    // change of one only is stretched by the window when it shows the surface.
    if (window->ClientHeight() != m_pRenderer->ClientHeight() &&
        window->ClientWidth() != m_pRenderer->ClientWidth())
        m_bRebuildPending = 1;

    m_pRenderer->ClearOverlays();

    const RenderResult device = m_pRenderer->CheckDevice();
    if (device != RenderResult::kOk) {
        int expected = 0;
        if (device == RenderResult::kDeviceNotReset &&
            s_resetRequested.compare_exchange_strong(expected, 1))
            window->RequestReset();
        return;
    }

    CellRect target = destRect;
    if (m_nFitToWindow.load() != 1) m_pRenderer->Letterbox(target, sourceRect);
    m_pRenderer->SetSharp(m_bSharp);
    const RenderResult result = m_pRenderer->DrawPicture(picture, pictureWidth, target, sourceRect);
    m_pRenderer->AddChannelFrame(selected, destRect);
    if (result == RenderResult::kOk) m_pRenderer->AddTitleAndTime(title, time, destRect);
    m_pRenderer->DrawOverlays();
    m_pRenderer->Present();
}

bool CVideoRenderer::Clear() {
    return m_pRenderer && m_pRenderer->Clear() == RenderResult::kOk;
}

void CVideoRenderer::ResetDevice() {
    if (m_pRenderer) m_pRenderer->Salvage();
    // Cleared whatever the outcome (also when the renderer was replaced since
    // the request), so that a device still waiting for a reset asks again.
    s_resetRequested.store(0);
}

bool CVideoRenderer::SaveSnapshot(OutputFiles& outputs, const QString& path, std::string* error) {
    std::string why;
    if (!m_pRenderer || !m_pRenderer->HasDevice()) {
        if (error) *error = "nothing has been drawn yet";
        return false;
    }
    // Names without a known extension are written as JPEG.
    const QByteArray format = ImageFormatForName(path).value_or(QByteArray("jpg"));
    const bool ok = WriteImageFile(outputs, m_pRenderer->BackBufferImage(),
                                   QFile::encodeName(path).toStdString(), format, why);
    if (!ok && error) *error = why;
    return ok;
}

bool CVideoRenderer::HasDevice() const {
    return m_pRenderer && m_pRenderer->HasDevice();
}

const QImage* CVideoRenderer::BackBufferView() const {
    return m_pRenderer ? &m_pRenderer->BackBufferImage() : nullptr;
}

QImage CVideoRenderer::BackBuffer() const {
    if (!m_pRenderer) return QImage();
    return m_pRenderer->BackBufferImage().copy();
}

} // namespace qm
