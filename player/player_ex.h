#pragma once
// The player window: owns the storage reader of the open recording, the play
// thread and the 32 display threads, the per-channel frame records, decoders
// and picture buffers, and the renderer that composes the channels' cells.
// The main window changes the playback state through the commands below; the
// play thread reads it every loop.

#include "codec/audio_decoder_ctrl.h"
#include "codec/decode_frame.h"
#include "player/picture_buffer.h"
#include "player/picture_zoom.h"
#include "player/playback_state.h"
#include "player/player_layout.h"
#include "render/video_renderer.h"
#include "storage/frame_record.h"
#include "storage/parse_index.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace qm {

class TPlayThread;
class TDisplayPlayThread;
class TStepSource;
class CWaveOutRenderImpl;
class ISoundDevice;

// What the open recording is read from.
enum PlaybackSource : int { kSourceArchive = 0, kSourceDisk = 1 };

constexpr int kTimerStatus = 4353;   // every 3000 ms
constexpr int kTimerInterval = 4375; // every 500 ms

// What the window shows of the open recording.
struct RecordingFacts {
    uint32_t start = 0; // the reader's range, UTC seconds
    uint32_t end = 0;
    uint32_t firstMiniStart = 0; // the block table's first start and last end
    uint32_t lastMiniEnd = 0;
    uint32_t channelMask = 0;
    int timeOffset = 0; // seconds the display adds (0 for a disk)
    bool disk = false;
    // What the window plays between: an archive's range narrowed to its blocks.
    uint32_t rangeStart = 0;
    uint32_t rangeEnd = 0;
};

class CQMPlayerEx : public QWidget, public IRenderWindow {
    Q_OBJECT
public:
    explicit CQMPlayerEx(QWidget* parent = nullptr);
    ~CQMPlayerEx() override;

    // Opening and closing. An open replaces what was open; false when the
    // reader refused the recording (OpenError() says why for a disk).
    bool OpenArchive(const std::string& path);
    // A DVR disk by drive number, or a disk image or device by path.
    bool OpenDisk(int drive);
    bool OpenDiskPath(const std::string& path);
    const std::string& OpenError() const { return m_reader.OpenError(); }
    // Ends playback and closes the recording; the threads end first, so no
    // delivery runs while the reader lets go of its buffers.
    void Close();
    // Ends the play and display threads. The destructor does it too; an owner
    // (or a subclass) calls it first so that no thread reaches the window
    // while it is being destroyed.
    void Shutdown();
    bool IsOpen() const { return m_reader.IsOpen(); }
    RecordingFacts Recording() const;

    // The transport verbs, the user's commands. Each applies the rules of
    // playing, re-seeks the reader when the direction changes, waits for it
    // to settle and announces the new state.
    enum class Outcome {
        kDone,
        kIgnored, // nothing changed (a disk plays at most four times faster)
        kFileEnd, // play was asked at the end of the recording
    };
    // Play: pauses what plays forward, otherwise plays forward at 1x.
    Outcome PlayOrPause();
    void Pause();
    // Reverse: pauses what plays in reverse, otherwise plays in reverse.
    Outcome ReverseOrPause();
    // FF and FR: double the speed in their direction (up to 64x, 4x on a
    // disk); while paused they step one frame.
    Outcome Faster();
    Outcome Slower();
    void StepForward();
    void StepReverse();
    // Holds playback while the user drags the timeline.
    void HoldForSeek();
    // Plays forward at 1x from `time` once the reader has settled there.
    // `whileHeld` runs while the play thread is held and nothing of the new
    // place is shown yet: cameras a split change brings into view then start
    // from there with the others.
    void SeekTo(uint32_t time, const std::function<void()>& whileHeld = {});
    // Restarts the pacing clock (after the layout changed).
    void ResetClock();
    // The longest a verb waits for the reader to settle after a seek.
    void SetSettleLimitMs(int ms) { m_nSettleLimitMs = ms; }
    static constexpr int kSettleLimitMs = 10000;

    // Splits and cameras.
    // The recorded cameras; every split's list is rebuilt from them.
    void SetChannelMask(uint32_t mask);
    // Display mode 1 to 5 (1, 4, 9, 16, 32 cameras). The single view takes
    // the selected camera when the split showed it.
    void SetSplit(int mode);
    // The 2 x 2 split, from any split (again when it is shown already).
    void QuadSplit();
    // Puts a camera into the current split (a full split gives up its first
    // entry) or takes it out; the single view keeps showing its camera.
    void ToggleCamera(int channel, bool on);
    // The single view of a camera, or back to the split it came from.
    void ToggleSingleView(int channel);
    // The cameras of a camera map (numbers from 1) as the split `mode`
    // shows them, recorded ones only; false when none is recorded.
    bool ApplyCamMap(int mode, const std::array<int, kMaxChannels>& cameras);
    void SelectChannel(int channel);
    const ChannelLists& Lists() const { return m_lists; }

    const PlaybackState& State() const { return m_state; }
    uint32_t CurrentTime() const { return m_nCurTime.load(); }
    int DisplayMode() const { return m_nDisplayMode.load(); }
    int SelectedChannel() const { return m_nSelCh.load(); }
    // The play thread's word, for tests and the frame processing.
    PlayState PlayStateNow() const { return PlayState(m_nPlayState.load()); }
    int Speed() const { return m_nSpeed.load(); }
    bool IsReverse() const { return m_bReverse.load(); }

    void UpdateLayout();
    void ClearStarted();
    void ResetChannelRecords();
    void RepaintChannel(int channel); // -1: all channels
    // The video window as a picture file, created through `outputs`.
    bool Snapshot(OutputFiles& outputs, const QString& path, std::string* error = nullptr);
    // Fills the video window black (under the drawing lock).
    void ClearVideo();
    // Pictures stretched to their cells (1) or letterboxed (0); repaints.
    void SetFitScreen(bool fit);
    bool FitScreen() const;
    // A channel waits for its next key frame before it is shown again.
    void ClearStarted(int channel) { m_bStarted[channel] = false; }

    // Frame processing, run by the display and play threads.
    void bProcessVideoFrame(int channel);
    // Draws the channel's picture (the caller holds its picture lock).
    void DrawLocked(int channel, const FrameRecord& record, const uint8_t* picture,
                    uint64_t frameTime);
    // Queues the channel's last sound when it is due (the selected channel,
    // forward at 1x); false when it is not.
    bool PlayChannelAudio(int channel);
    // Where the sound of the next opened recording goes; by default ALSA's
    // "default" device (silent without a sound card). Set before opening.
    void SetSoundDeviceFactory(std::function<std::unique_ptr<ISoundDevice>()> factory) {
        m_soundDeviceFactory = std::move(factory);
    }
    // Bytes of PCM handed to the sound output since the last open.
    uint64_t SoundBytesWritten() const { return m_nSoundBytes.load(); }

    // IRenderWindow
    int ClientWidth() const override { return m_nClientWidth.load(); }
    int ClientHeight() const override { return m_nClientHeight.load(); }
    int ScreenId() const override { return m_nScreenId.load(); }
    void Present(const QImage& backBuffer) override;
    void RequestReset() override;

    // Read-outs for the main window and tests.
    CellRect CellOf(int channel) const;
    // The record of the picture a camera shows now (payload not kept);
    // nullopt when it shows none.
    std::optional<FrameRecord> ShownFrame(int channel);
    // The picture a camera shows now at its recorded size (a copy); null
    // when it shows none.
    QImage ShownPicture(int channel);
    // A camera's zoom (the wheel over it, a drag pans, a middle click resets).
    PictureZoom ZoomOf(int channel) const;
    void SetZoom(int channel, const PictureZoom& zoom);
    // Every camera back to its whole picture (-1), or one.
    void ResetZoom(int channel = -1);
    bool IsDisplayed(int channel) const { return m_bDisplayed[channel].load(); }
    uint32_t DisplayedMask() const { return m_nDisplayedMask.load(); }
    bool IsStarted(int channel) const { return m_bStarted[channel].load(); }
    QImage BackBuffer() const;
    // The reader, for benchmarks and tests that watch it.
    const CQMParseIndex& Reader() const { return m_reader; }
    bool TimersRunning() const { return m_timerStatus.isActive() && m_timerInterval.isActive(); }
    // Frames drawn so far (all channels), for waiting in tests and status.
    uint64_t DrawCount() const { return m_nDrawCount.load(); }
    // Video frames of a channel taken from the reader, and decoded for its cell.
    uint64_t StoredCount(int channel) const { return m_nStored[channel].load(); }
    uint64_t DecodedCount(int channel) const { return m_nDecoded[channel].load(); }

signals:
    // The playback state changed (see State()).
    void stateChanged(const qm::PlaybackState& state);
    // A displayed channel's cell was double-clicked.
    void channelDoubleClicked(int channel);
    // The renderer asks for a device reset; handled queued on this window's thread.
    void resetRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    int DisplayedChannelAt(const QPoint& p) const;

private slots:
    void OnResetRenderer();

private:
    friend class TPlayThread;
    friend class TDisplayPlayThread;

    void StopThreads();
    void StartThreads();
    bool LoadSource(int kind, const std::function<int()>& open);
    // Seeks the reader at the current time in the given direction.
    void Reseek(bool reverse);
    // Waits until the reader has settled after a seek (a whole prefetch
    // pass), pumping events when asked. False when `stop` held first; true
    // also when the wait gave up after the settle limit.
    bool AwaitPass(bool pump, const std::function<bool()>& stop = {});
    // Pauses the play thread for a change of pacing values (see SetSpeed).
    template <typename Change> void WithPlayThreadPaused(Change change);
    void SetSpeed(int speed);
    // Speed and clock settle while the play thread idles; entering the step
    // state last lets exactly one frame through.
    void StartStep(Activity activity);
    void AwaitStep();
    // A frame-exact step of every displayed camera (+1 forward, -1 back, 0
    // the cameras that show nothing yet at the current moment),
    // drawn here while the play thread holds. False when there is no step
    // source (nothing open, or the recording cannot be read that way).
    bool StepExact(int direction);
    // Playback resumes where the steps left the pictures.
    void ResumeAfterSteps(bool reverse);
    // Holds the play thread and waits for its acknowledgement.
    void HoldPlayThread();
    void ResetChannelsForMode(int newMode);
    // After the split or its cameras changed: cells laid out again, every
    // cell cleared and redrawn, cameras new to the view without a stale picture.
    void Relayout();
    void EnsureSelection();
    void UpdateClientSize();
    // Records the new state and announces it when it differs.
    void Publish(Activity activity);
    void PublishLayout();
    // Every half second: the end of the recording, how fast it goes by.
    void OnIntervalTick();
    void MeasureReachedSpeed();

    PlaybackState m_state;                 // user-interface thread only
    std::unique_ptr<TStepSource> m_pSteps; // user-interface thread only
    bool m_bStepped = false;               // pictures moved by steps since playback held
    // While steps rule the cells, a frame the display threads still had in
    // hand is dropped rather than drawn over the step's picture.
    std::atomic<bool> m_bStepHold{false};
    std::deque<std::pair<int64_t, int64_t>> m_speedSamples; // (wall ms, shown media ms)
    int m_nEndTicks = 0; // interval ticks in a row that found forward play at the end
    int m_nSettleLimitMs = kSettleLimitMs;
    int m_nPrevMode = 0; // the split a single view returns to

    // Playback state shared with the play thread.
    std::atomic<int> m_nPlayState{kPlayStatePlaying};
    std::atomic<int> m_nSpeed{1};
    std::atomic<bool> m_bReverse{false};
    std::atomic<int64_t> m_llClockBase{0}; // wall ms minus media ms at the anchor; 0 not anchored
    std::atomic<int64_t> m_llRefNow{0};    // wall ms at the anchor
    std::atomic<uint32_t> m_nLastShownTick{0};
    std::atomic<uint32_t> m_nCurTime{0};
    std::atomic<int64_t> m_llShownMs{0}; // recorded ms of the last frame shown
    std::atomic<bool> m_bAtEnd{false};   // forward play found nothing more to read
    std::atomic<int> m_nSkipLevel{0};
    std::atomic<bool> m_bActive{false};
    std::atomic<int> m_nSourceKind{kSourceArchive};
    std::atomic<int> m_nDisplayMode{2};
    std::atomic<int> m_nSelCh{-1};
    // The play thread's acknowledgement of a pause, waited for on a condition.
    std::mutex m_csPauseAck;
    std::condition_variable m_cvPauseAck;
    bool m_bPauseAck = false; // guarded by m_csPauseAck

    CQMParseIndex m_reader;
    std::string m_strPath;
    CVideoRenderer m_renderer;
    mutable std::mutex m_csDraw; // held around every call into m_renderer; guards m_rcCell

    ChannelLists m_lists; // user-interface thread only
    std::array<CellRect, kMaxChannels> m_rcCell{};
    std::array<PictureZoom, kMaxChannels> m_zoom{}; // guarded by m_csDraw too
    int m_nPanChannel = -1; // a drag pans this zoomed camera (window thread only)
    QPoint m_panLast;
    std::array<std::atomic<bool>, kMaxChannels> m_bDisplayed{};
    std::atomic<uint32_t> m_nDisplayedMask{0};
    std::array<std::atomic<bool>, kMaxChannels> m_bStarted{};

    // Per channel. The last video record is handed from the play thread to the
    // channel's display thread by the slot and frame-ready events; the shown
    // record (what the cell shows, payload not kept) and the picture buffer are
    // guarded by the channel's picture lock, taken before the drawing lock.
    std::array<FrameRecord, kMaxChannels> m_lastVideo{};
    std::array<FrameRecord, kMaxChannels> m_lastAudio{};
    std::array<FrameRecord, kMaxChannels> m_shown{};
    std::array<VideoDecodeRecord, kMaxChannels> m_decode;
    std::array<PictureBuffer, kMaxChannels> m_picture;
    std::array<std::mutex, kMaxChannels> m_csPicture;
    // How many times the channel's picture is halved, for a cell that small.
    std::array<int, kMaxChannels> m_nPictureHalvings{};
    static constexpr int kMostHalvings = 2;
    int HalvingsFor(int channel, int width, int height) const;
    // Puts the full picture of what the channel shows back into its buffer
    // (the caller holds its picture lock); false when it cannot be decoded.
    bool RestoreFullPicture(int channel);

    // The selected channel's sound: decoded and queued by the play thread.
    TAudioDecoderCtrl m_audioCtrl;
    std::unique_ptr<CWaveOutRenderImpl> m_pWaveOut; // made anew at every open
    std::function<std::unique_ptr<ISoundDevice>()> m_soundDeviceFactory;
    std::atomic<uint64_t> m_nSoundBytes{0};

    std::atomic<TPlayThread*> m_pPlayThread{nullptr};
    std::array<std::atomic<TDisplayPlayThread*>, kMaxChannels> m_pDisplay{};

    std::atomic<uint64_t> m_nDrawCount{0};
    std::array<std::atomic<uint64_t>, kMaxChannels> m_nStored{};
    std::array<std::atomic<uint64_t>, kMaxChannels> m_nDecoded{};

    std::atomic<int> m_nClientWidth{0};
    std::atomic<int> m_nClientHeight{0};
    std::atomic<int> m_nScreenId{0};

    QTimer m_timerStatus;   // 4353: no effect on playback
    QTimer m_timerInterval; // 4375: no effect on playback
};

// The time shown with a picture, as 100-ns units since 1601-01-01: the
// record's date and time fields taken as they are, with the current
// milliseconds.
uint64_t FrameFileTime(const FrameRecord& record);

} // namespace qm
