#include "player/player_ex.h"

#include "platform/diagnostics.h"
#include "player/display_thread.h"
#include "player/play_thread.h"
#include "player/sample_frame.h"
#include "render/wave_out_render_impl.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace qm {

namespace {

constexpr int64_t kOpenWaitMs = 30000;
constexpr int kHandshakeTries = 201;
constexpr int kSettleStepMs = 50;
constexpr int kSettleLimitMs = 30000;

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
    for (int c = 0; c < kPlayerChannels; ++c) {
        m_picture[c].Free();
        m_decode[c].pCtrl.reset();
    }
    m_pWaveOut.reset();
    qmLog("CQMPlayerEx::~CQMPlayerEx mid\n");
    qmLog("CQMPlayerEx::~CQMPlayerEx End\n");
}

void CQMPlayerEx::Shutdown() {
    m_bActive = 0;
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
    for (int c = 0; c < kPlayerChannels; ++c) {
        auto* display = new TDisplayPlayThread(this, c);
        display->Begin();
        m_pDisplay[c].store(display, std::memory_order_release);
    }
    m_bActive = 1;
    auto* play = new TPlayThread(this);
    m_pPlayThread.store(play, std::memory_order_release);
    play->SignalAllSlots();
    play->Begin();
}

int CQMPlayerEx::LoadArchive(const std::string& path) {
    m_strPath = path;
    if (!FileHasContent(path)) return 0;
    return LoadSource(kSourceArchive, [&] { return m_reader.OpenFile(path); });
}

int CQMPlayerEx::LoadDisk(int drive) {
    m_strPath.clear();
    return LoadSource(kSourceDisk, [&] { return m_reader.OpenDisk(drive); });
}

int CQMPlayerEx::LoadDiskPath(const std::string& path) {
    m_strPath = path;
    return LoadSource(kSourceDisk, [&] { return m_reader.OpenDiskPath(path); });
}

int CQMPlayerEx::LoadSource(int kind, const std::function<int()>& open) {
    // The old threads go before the records they use are reset, and before
    // the reader changes what it reads: for a disk too, the play thread is
    // never left delivering from a reader being reopened.
    m_bActive = 0;
    StopThreads();
    ClearStarted();
    ResetChannelRecords();
    if (!open()) return 0;
    m_nSourceKind = kind;
    m_pWaveOut.reset();
    m_pWaveOut = m_soundDeviceFactory ? std::make_unique<CWaveOutRenderImpl>(m_soundDeviceFactory())
                                      : std::make_unique<CWaveOutRenderImpl>();
    m_nSoundBytes = 0;

    const bool cursor = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
    if (cursor) QApplication::setOverrideCursor(Qt::WaitCursor);
    m_reader.m_evOpened.Wait(kOpenWaitMs);
    if (cursor) QApplication::restoreOverrideCursor();

    m_nSelCh = -1;
    m_llClockBase = 0;
    m_llRefNow = 0;
    m_nPlayState = kPlayStatePlaying;
    m_bReverse = 0;

    if (!m_timerStatus.isActive()) m_timerStatus.start();
    if (!m_timerInterval.isActive()) m_timerInterval.start();

    {
        std::lock_guard draw(m_csDraw);
        if (m_renderer.HasDevice()) m_renderer.Clear();
    }
    StartThreads();
    EnsureSelection();
    return 1;
}

void CQMPlayerEx::SetChannelMask(uint32_t mask) {
    m_lists.SetFromMask(mask);
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
    for (int c = 0; c < kPlayerChannels; ++c)
        m_bDisplayed[c] = layout.displayed[c];
    // The reader prepares every recorded channel; hidden ones are taken and
    // stored by the play thread but not decoded.
    m_nDisplayedMask = layout.DisplayedMask();
}

void CQMPlayerEx::ResetChannelsForMode(int newMode) {
    const uint32_t current = m_lists.ModeSet(m_nDisplayMode);
    const uint32_t next = m_lists.ModeSet(newMode);
    for (int c = 0; c < kPlayerChannels; ++c)
        if ((next & ~current) & (1u << c)) m_bStarted[c] = 0;
}

void CQMPlayerEx::SelectChannel(int channel) {
    const int old = m_nSelCh.exchange(channel);
    if (old >= 0) RepaintChannel(old);
    if (channel >= 0 && channel != old) RepaintChannel(channel);
}

void CQMPlayerEx::EnsureSelection() {
    if (m_nSelCh == -1) m_nSelCh = 0;
    const int sel = m_nSelCh;
    if (sel >= 0 && sel < kPlayerChannels && m_bDisplayed[sel]) return;
    for (int c = 0; c < kPlayerChannels; ++c) {
        if (m_bDisplayed[c]) {
            m_nSelCh = c;
            return;
        }
    }
    m_nSelCh = -1;
}

template <typename Change> void CQMPlayerEx::WithPlayThreadPaused(Change change) {
    const int saved = m_nPlayState.exchange(kPlayStatePaused);
    // Without a running play thread nobody would acknowledge.
    TPlayThread* play = m_pPlayThread.load();
    if (play && play->HasThread()) {
        for (int i = 0; i < kHandshakeTries && !m_bPauseAck; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    change();
    m_nPlayState = saved;
}

void CQMPlayerEx::SetSpeed(int speed) {
    WithPlayThreadPaused([&] { m_nSpeed = speed; });
}

void CQMPlayerEx::ResetClock() {
    WithPlayThreadPaused([&] { m_llClockBase = 0; });
}

void CQMPlayerEx::ClearStarted() {
    for (auto& s : m_bStarted)
        s = 0;
}

void CQMPlayerEx::ResetChannelRecords() {
    const FrameRecord& sample = SampleFrameRecord();
    for (int c = 0; c < kPlayerChannels; ++c) {
        std::lock_guard picture(m_csPicture[c]);
        m_decode[c].nWidth = sample.width;
        m_decode[c].nHeight = sample.height;
        m_lastVideo[c] = sample;
        m_shown[c] = sample;
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

// --- commands ---

void CQMPlayerEx::Reseek(int reverse) {
    if (!m_reader.IsOpen()) return;
    m_reader.SeekByTime(m_nCurTime, reverse);
    m_reader.m_nPassHandshake = 0;
    for (int waited = 0; waited < kSettleLimitMs; waited += kSettleStepMs) {
        if (m_reader.m_bSeeking == 0 && m_reader.m_nPassHandshake == -1) break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, kSettleStepMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(kSettleStepMs));
    }
}

void CQMPlayerEx::Pause() {
    m_nPlayState = kPlayStatePaused;
    SetSpeed(1);
}

void CQMPlayerEx::Play() {
    const int state = m_nPlayState;
    if (!m_bReverse && (state == kPlayStatePlaying || state == kPlayStateStepping)) {
        Pause();
        return;
    }
    const bool wasReverse = m_bReverse != 0;
    m_llClockBase = 0;
    m_nPlayState = kPlayStatePlaying;
    SetSpeed(1);
    m_bReverse = 0;
    if (wasReverse) Reseek(0);
}

void CQMPlayerEx::ReversePlay() {
    const int state = m_nPlayState;
    if (m_bReverse && (state == kPlayStatePlaying || state == kPlayStateStepping)) {
        Pause();
        return;
    }
    const bool wasForward = !m_bReverse;
    m_bReverse = 1;
    m_nPlayState = kPlayStatePlaying;
    SetSpeed(1);
    m_llRefNow = 0;
    ResetClock();
    if (wasForward) Reseek(1);
}

void CQMPlayerEx::FastForward() {
    const int state = m_nPlayState;
    if (state == kPlayStatePaused || state == kPlayStateStepping) {
        StepForward();
        return;
    }
    if (m_nSourceKind == kSourceDisk && !m_bReverse && m_nSpeed > 2) return;
    const bool wasReverse = m_bReverse != 0;
    if (wasReverse) {
        m_bReverse = 0;
        SetSpeed(2);
    } else {
        SetSpeed(std::min(m_nSpeed * 2, 64));
    }
    m_llRefNow = 0;
    ResetClock();
    m_nPlayState = kPlayStateFast;
    if (wasReverse) Reseek(0);
}

void CQMPlayerEx::FastReverse() {
    const int state = m_nPlayState;
    if (state == kPlayStatePaused || state == kPlayStateStepping) {
        StepReverse();
        return;
    }
    if (m_nSourceKind == kSourceDisk && m_bReverse && m_nSpeed > 2) return;
    const bool wasForward = !m_bReverse;
    m_bReverse = 1;
    if (m_nSpeed != 64) SetSpeed(m_nSpeed * 2);
    m_llRefNow = 0;
    ResetClock();
    m_nPlayState = kPlayStateFast;
    if (wasForward) {
        SetSpeed(2);
        Reseek(1);
    }
}

void CQMPlayerEx::StartStep() {
    // The speed and clock are settled while the play thread still idles in
    // the pause; entering the step state last lets exactly one frame through.
    SetSpeed(1);
    m_llRefNow = 0;
    ResetClock();
    m_nPlayState = kPlayStateStepping;
}

void CQMPlayerEx::StepForward() {
    if (m_bReverse) {
        m_bReverse = 0;
        Reseek(0);
    }
    StartStep();
}

void CQMPlayerEx::StepReverse() {
    if (!m_bReverse) {
        m_bReverse = 1;
        Reseek(1);
    }
    StartStep();
}

void CQMPlayerEx::Close() {
    m_bActive = 0;
    StopThreads();
    m_nSpeed = 1;
    m_reader.CloseFile();
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
    UpdateClientSize();
}

namespace {
bool Contains(const CellRect& r, const QPoint& p) {
    return p.x() >= r.left && p.x() < r.right && p.y() >= r.top && p.y() < r.bottom;
}
} // namespace

void CQMPlayerEx::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    for (int c = 0; c < kPlayerChannels; ++c) {
        if (Contains(CellOf(c), p)) {
            SelectChannel(c);
            break;
        }
    }
    QWidget::mousePressEvent(event);
}

void CQMPlayerEx::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    for (int c = 0; c < kPlayerChannels; ++c) {
        if (!Contains(CellOf(c), p)) continue;
        SelectChannel(c);
        if (m_bDisplayed[c]) emit channelDoubleClicked(c);
    }
}

} // namespace qm
