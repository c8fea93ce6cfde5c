#include "player/player_ex.h"

#include "platform/diagnostics.h"
#include "player/display_thread.h"
#include "player/play_thread.h"
#include "player/sample_frame.h"
#include "player/step_source.h"
#include "render/wave_out_render_impl.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace qm {

namespace {

constexpr int64_t kOpenWaitMs = 30000;

bool FileHasContent(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && st.st_size > 0;
    ::close(fd);
    return ok;
}

} // namespace

CQMPlayerEx::CQMPlayerEx(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_timerStatus.setInterval(3000);
    m_timerInterval.setInterval(500);
    connect(&m_timerInterval, &QTimer::timeout, this, &CQMPlayerEx::OnIntervalTick);
    for (auto& r : m_lastVideo)
        r = SampleFrameRecord();
    for (auto& r : m_shown)
        r = SampleFrameRecord();
    connect(this, &CQMPlayerEx::resetRequested, this, &CQMPlayerEx::OnResetRenderer,
            Qt::QueuedConnection);
    UpdateClientSize();
}

CQMPlayerEx::~CQMPlayerEx() {
    qmLog("CQMPlayerEx::~CQMPlayerEx Start\n");
    Shutdown();
    for (int c = 0; c < kMaxChannels; ++c) {
        m_picture[c].Free();
        m_decode[c].pCtrl.reset();
    }
    m_pWaveOut.reset();
    qmLog("CQMPlayerEx::~CQMPlayerEx mid\n");
    qmLog("CQMPlayerEx::~CQMPlayerEx End\n");
}

void CQMPlayerEx::Shutdown() {
    m_bActive = false;
    StopThreads();
}

void CQMPlayerEx::StopThreads() {
    // The play thread ends first; its object stays until the display threads,
    // which free its slots, have ended too.
    std::unique_ptr<TPlayThread> play(m_pPlayThread.load());
    if (play) play->End();
    for (auto& slot : m_pDisplay) {
        std::unique_ptr<TDisplayPlayThread> display(slot.load());
        if (display) display->End();
        slot = nullptr;
    }
    m_pPlayThread = nullptr;
}

void CQMPlayerEx::StartThreads() {
    for (int c = 0; c < kMaxChannels; ++c) {
        auto* display = new TDisplayPlayThread(this, c);
        display->Begin();
        m_pDisplay[c].store(display, std::memory_order_release);
    }
    m_bActive = true;
    {
        std::lock_guard lock(m_csPauseAck);
        m_bPauseAck = false; // the new thread acknowledges afresh
    }
    auto* play = new TPlayThread(this);
    m_pPlayThread.store(play, std::memory_order_release);
    play->SignalAllSlots();
    play->Begin();
}

bool CQMPlayerEx::OpenArchive(const std::string& path) {
    m_strPath = path;
    if (!FileHasContent(path)) return false;
    return LoadSource(kSourceArchive, [&] { return m_reader.OpenFile(path); });
}

bool CQMPlayerEx::OpenDisk(int drive) {
    m_strPath.clear();
    return LoadSource(kSourceDisk, [&] { return m_reader.OpenDisk(drive); });
}

bool CQMPlayerEx::OpenDiskPath(const std::string& path) {
    m_strPath = path;
    return LoadSource(kSourceDisk, [&] { return m_reader.OpenDiskPath(path); });
}

RecordingFacts CQMPlayerEx::Recording() const {
    RecordingFacts facts;
    facts.start = m_reader.m_nStartTime;
    facts.end = m_reader.m_nEndTime;
    facts.firstMiniStart = m_reader.m_nFirstMiniStart;
    facts.lastMiniEnd = m_reader.m_nLastMiniEnd;
    facts.channelMask = m_reader.m_nChannelMask;
    facts.disk = m_nSourceKind == kSourceDisk;
    facts.timeOffset = facts.disk ? 0 : m_reader.m_nTimeOffset;
    facts.rangeStart = facts.disk ? facts.start : std::max(facts.start, facts.firstMiniStart);
    facts.rangeEnd = facts.disk ? facts.end : std::min(facts.end, facts.lastMiniEnd);
    return facts;
}

bool CQMPlayerEx::LoadSource(int kind, const std::function<int()>& open) {
    // The old threads go before the records they use are reset, and before
    // the reader changes what it reads: for a disk too, the play thread is
    // never left delivering from a reader being reopened.
    m_bActive = false;
    StopThreads();
    ClearStarted();
    ResetChannelRecords();
    {
        // A new recording shows every camera whole.
        std::lock_guard draw(m_csDraw);
        for (PictureZoom& zoom : m_zoom)
            zoom.Reset();
    }
    m_pSteps.reset();
    if (!open()) {
        m_state.open = false;
        Publish(Activity::kStopped);
        return false;
    }
    m_nSourceKind = kind;
    m_bStepped = false;
    m_bStepHold = false;
    m_llShownMs = 0;
    m_bAtEnd = false;
    m_pSteps = std::make_unique<TStepSource>();
    const std::string stepPath = m_strPath.empty() ? m_reader.Path() : m_strPath;
    const bool steps =
        kind == kSourceDisk ? m_pSteps->OpenDisk(stepPath) : m_pSteps->OpenArchive(stepPath);
    if (!steps) {
        qmLog("CQMPlayerEx: frame-exact steps unavailable for %s\n", stepPath.c_str());
        m_pSteps.reset();
    }
    m_pWaveOut.reset();
    m_pWaveOut = m_soundDeviceFactory ? std::make_unique<CWaveOutRenderImpl>(m_soundDeviceFactory())
                                      : std::make_unique<CWaveOutRenderImpl>();
    m_nSoundBytes = false;

    const bool cursor = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
    if (cursor) QApplication::setOverrideCursor(Qt::WaitCursor);
    m_reader.m_evOpened.Wait(kOpenWaitMs);
    if (cursor) QApplication::restoreOverrideCursor();

    m_nSelCh = -1;
    m_llClockBase = 0;
    m_llRefNow = 0;
    m_nPlayState = kPlayStatePlaying;
    m_bReverse = false;

    if (!m_timerStatus.isActive()) m_timerStatus.start();
    if (!m_timerInterval.isActive()) m_timerInterval.start();

    {
        std::lock_guard draw(m_csDraw);
        if (m_renderer.HasDevice()) m_renderer.Clear();
    }
    StartThreads();
    EnsureSelection();
    m_state.open = true;
    m_state.disk = kind == kSourceDisk;
    m_state.reverse = false;
    m_state.speed = 1;
    Publish(Activity::kPlaying);
    return true;
}

void CQMPlayerEx::UpdateClientSize() {
    m_nClientWidth = width();
    m_nClientHeight = height();
    int screenId = 0;
    if (QScreen* s = screen()) screenId = QGuiApplication::screens().indexOf(s) + 1;
    m_nScreenId = screenId;
}

void CQMPlayerEx::UpdateLayout() {
    UpdateClientSize();
    const Layout layout = ComputeLayout(m_nDisplayMode, width(), height(), m_lists);
    {
        std::lock_guard draw(m_csDraw);
        m_rcCell = layout.cell;
    }
    for (int c = 0; c < kMaxChannels; ++c)
        m_bDisplayed[c] = layout.displayed[c] != 0;
    // The reader prepares every recorded channel; hidden ones are taken and
    // stored by the play thread but not decoded.
    m_nDisplayedMask = layout.DisplayedMask();
}

void CQMPlayerEx::ClearStarted() {
    for (auto& s : m_bStarted)
        s = false;
}

void CQMPlayerEx::ResetChannelRecords() {
    const FrameRecord& sample = SampleFrameRecord();
    for (int c = 0; c < kMaxChannels; ++c) {
        std::lock_guard picture(m_csPicture[c]);
        m_decode[c].nWidth = sample.width;
        m_decode[c].nHeight = sample.height;
        m_lastVideo[c] = sample;
        m_shown[c] = sample;
        m_nPictureHalvings[size_t(c)] = 0;
        // Reads as zeros again without touching a page.
        if (m_picture[c].IsAllocated())
            m_picture[c].Clear();
        else
            m_picture[c].Allocate();
    }
}

bool CQMPlayerEx::Snapshot(OutputFiles& outputs, const QString& path, std::string* error) {
    std::lock_guard draw(m_csDraw);
    return m_renderer.SaveSnapshot(outputs, path, error);
}

CellRect CQMPlayerEx::CellOf(int channel) const {
    std::lock_guard draw(m_csDraw);
    return m_rcCell[channel];
}

QImage CQMPlayerEx::BackBuffer() const {
    std::lock_guard draw(m_csDraw);
    return m_renderer.BackBuffer();
}

void CQMPlayerEx::ClearVideo() {
    std::lock_guard draw(m_csDraw);
    m_renderer.Clear();
}

void CQMPlayerEx::SetFitScreen(bool fit) {
    {
        std::lock_guard draw(m_csDraw);
        m_renderer.SetFitToWindow(fit ? 1 : 0);
    }
    RepaintChannel(-1);
}

bool CQMPlayerEx::FitScreen() const {
    std::lock_guard draw(m_csDraw);
    return m_renderer.FitToWindow() != 0;
}

// --- window ---

void CQMPlayerEx::Present(const QImage&) {
    // The window paints straight from the renderer's back buffer under the
    // drawing lock: keeping a shared copy here would make every following draw
    // copy the whole surface before writing to it.
    QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

void CQMPlayerEx::RequestReset() {
    emit resetRequested();
}

void CQMPlayerEx::OnResetRenderer() {
    {
        std::lock_guard draw(m_csDraw);
        m_renderer.ResetDevice();
    }
    CVideoRenderer::s_resetRequested = 0;
}

void CQMPlayerEx::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    std::lock_guard draw(m_csDraw);
    const QImage* image = m_renderer.BackBufferView();
    if (!image || image->isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // A surface kept after a resize in one dimension only is stretched to the window.
    painter.drawImage(rect(), *image);
}

void CQMPlayerEx::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The window was resized or went to the whole screen: the cells follow
    // the new area, and every picture is drawn again at its new size.
    UpdateLayout();
    {
        std::lock_guard draw(m_csDraw);
        m_renderer.RebuildAtNextDraw();
    }
    RepaintChannel(-1);
}

namespace {
bool Contains(const CellRect& r, const QPoint& p) {
    return p.x() >= r.left && p.x() < r.right && p.y() >= r.top && p.y() < r.bottom;
}
} // namespace

int CQMPlayerEx::DisplayedChannelAt(const QPoint& p) const {
    for (int c = 0; c < kMaxChannels; ++c)
        if (m_bDisplayed[c] && Contains(CellOf(c), p)) return c;
    return -1;
}

void CQMPlayerEx::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    for (int c = 0; c < kMaxChannels; ++c) {
        if (Contains(CellOf(c), p)) {
            SelectChannel(c);
            break;
        }
    }
    const int c = DisplayedChannelAt(p);
    if (c >= 0 && event->button() == Qt::MiddleButton) ResetZoom(c);
    // A zoomed camera is panned by dragging it.
    m_nPanChannel = c >= 0 && event->button() == Qt::LeftButton && ZoomOf(c).IsZoomed() ? c : -1;
    m_panLast = p;
    if (m_nPanChannel >= 0) {
        event->accept(); // the drag is the picture's, not the window's
        return;
    }
    QWidget::mousePressEvent(event);
}

void CQMPlayerEx::mouseMoveEvent(QMouseEvent* event) {
    if (m_nPanChannel >= 0 && (event->buttons() & Qt::LeftButton)) {
        const QPoint p = event->position().toPoint();
        const CellRect cell = CellOf(m_nPanChannel);
        PictureZoom zoom = ZoomOf(m_nPanChannel);
        zoom.Pan(double(p.x() - m_panLast.x()) / std::max(1, cell.right - cell.left),
                 double(p.y() - m_panLast.y()) / std::max(1, cell.bottom - cell.top));
        m_panLast = p;
        SetZoom(m_nPanChannel, zoom);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void CQMPlayerEx::mouseReleaseEvent(QMouseEvent* event) {
    m_nPanChannel = -1;
    QWidget::mouseReleaseEvent(event);
}

void CQMPlayerEx::wheelEvent(QWheelEvent* event) {
    const QPoint p = event->position().toPoint();
    const int c = DisplayedChannelAt(p);
    const double steps = event->angleDelta().y() / 120.0;
    if (c < 0 || steps == 0) {
        QWidget::wheelEvent(event);
        return;
    }
    // Around the pointer: the picture point under it stays under it.
    const CellRect cell = CellOf(c);
    PictureZoom zoom = ZoomOf(c);
    zoom.ZoomAround(steps, double(p.x() - cell.left) / std::max(1, cell.right - cell.left),
                    double(p.y() - cell.top) / std::max(1, cell.bottom - cell.top));
    SetZoom(c, zoom);
    event->accept();
}

void CQMPlayerEx::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    // The single view goes back to its split wherever the double-click lands
    // (a letterboxed picture leaves borders outside its cell).
    if (m_nDisplayMode == 1 && m_lists.single >= 0 && !Contains(CellOf(m_lists.single), p)) {
        emit channelDoubleClicked(m_lists.single);
        return;
    }
    for (int c = 0; c < kMaxChannels; ++c) {
        if (!Contains(CellOf(c), p)) continue;
        SelectChannel(c);
        if (m_bDisplayed[c]) emit channelDoubleClicked(c);
    }
}

} // namespace qm
