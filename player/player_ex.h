#pragma once
// The player window: owns the storage reader of the open recording, the play
// thread and the 32 display threads, the per-channel frame records, decoders
// and picture buffers, and the renderer that composes the channels' cells.
// The main window changes the playback state through the commands below; the
// play thread reads it every loop.

#include "codec/audio_decoder_ctrl.h"
#include "codec/decode_frame.h"
#include "player/picture_buffer.h"
#include "player/player_layout.h"
#include "render/video_renderer.h"
#include "storage/frame_record.h"
#include "storage/parse_index.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace qm {

class TPlayThread;
class TDisplayPlayThread;
class CWaveOutRenderImpl;
class ISoundDevice;

enum PlayState : int {
    kPlayStatePlaying = 0,
    kPlayStatePaused = 1,
    kPlayStateStepping = 2, // show one frame, then pause
    kPlayStateFast = 3,
};

// What the open recording is read from (m_nSourceKind).
enum PlaybackSource : int { kSourceArchive = 0, kSourceDisk = 1 };

constexpr int kPlayerChannels = 32;
constexpr int kTimerStatus = 4353;   // every 3000 ms
constexpr int kTimerInterval = 4375; // every 500 ms

class CQMPlayerEx : public QWidget, public IRenderWindow {
    Q_OBJECT
public:
    explicit CQMPlayerEx(QWidget* parent = nullptr);
    ~CQMPlayerEx() override;

    // 1 opened, 0 failed.
    int LoadArchive(const std::string& path);
    // A DVR disk by drive number, or a disk image or device by path; the
    // reader's OpenError() says why an open failed.
    int LoadDisk(int drive);
    int LoadDiskPath(const std::string& path);
    // Ends the play and display threads. The destructor does it too; an owner
    // (or a subclass) calls it first so that no thread reaches the window
    // while it is being destroyed.
    void Shutdown();

    void SetChannelMask(uint32_t mask);
    void UpdateLayout();
    void ResetChannelsForMode(int newMode);
    void SelectChannel(int channel);
    void EnsureSelection();
    void SetSpeed(int speed);
    void ResetClock();
    void ClearStarted();
    void ResetChannelRecords();
    void RepaintChannel(int channel); // -1: all channels
    // The video window as a picture file, created through `outputs`.
    bool Snapshot(OutputFiles& outputs, const QString& path, std::string* error = nullptr);

    // Transport commands of the main window.
    void Pause();
    void Play();
    void ReversePlay();
    void FastForward();
    void FastReverse();
    void StepForward();
    void StepReverse();
    // Ends playback and closes the recording; the threads end first, so no
    // delivery runs while the reader lets go of its buffers.
    void Close();
    // Fills the video window black (under the drawing lock).
    void ClearVideo();
    // Pictures stretched to their cells (1) or letterboxed (0); repaints.
    void SetFitScreen(bool fit);
    bool FitScreen() const;
    // A channel waits for its next key frame before it is shown again.
    void ClearStarted(int channel) { m_bStarted[channel] = 0; }

    // Frame processing, run by the display and play threads.
    int bProcessVideoFrame(int channel);
    int DrawLocked(int channel, const FrameRecord& record, const uint8_t* picture,
                   uint64_t frameTime);
    int PlayChannelAudio(int channel);
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
    bool IsDisplayed(int channel) const { return m_bDisplayed[channel].load() != 0; }
    uint32_t DisplayedMask() const { return m_nDisplayedMask.load(); }
    bool IsStarted(int channel) const { return m_bStarted[channel].load() != 0; }
    const ChannelLists& Lists() const { return m_lists; }
    // The main window edits the lists of the splits, then calls UpdateLayout.
    ChannelLists& MutableLists() { return m_lists; }
    QImage BackBuffer() const;
    CQMParseIndex& Reader() { return m_reader; }
    bool TimersRunning() const { return m_timerStatus.isActive() && m_timerInterval.isActive(); }
    // Frames drawn so far (all channels), for waiting in tests and status.
    uint64_t DrawCount() const { return m_nDrawCount.load(); }
    // Video frames of a channel taken from the reader, and decoded for its cell.
    uint64_t StoredCount(int channel) const { return m_nStored[channel].load(); }
    uint64_t DecodedCount(int channel) const { return m_nDecoded[channel].load(); }

    // Playback state shared with the play thread.
    std::atomic<int> m_nPlayState{kPlayStatePlaying};
    std::atomic<int> m_nSpeed{1};
    std::atomic<int> m_bReverse{0};
    std::atomic<int64_t> m_llClockBase{0}; // wall ms minus media ms at the anchor; 0 not anchored
    std::atomic<int64_t> m_llRefNow{0};    // wall ms at the anchor
    std::atomic<uint32_t> m_nLastShownTick{0};
    std::atomic<uint32_t> m_nCurTime{0};
    std::atomic<int> m_bPauseAck{0};
    std::atomic<int> m_nSkipLevel{0};
    std::atomic<int> m_bActive{0};
    std::atomic<int> m_nSourceKind{kSourceArchive};
    const int m_nOutputType = 3;

    std::atomic<int> m_nDisplayMode{2};
    std::atomic<int> m_nSelCh{-1};

signals:
    // A displayed channel's cell was double-clicked.
    void channelDoubleClicked(int channel);
    // The renderer asks for a device reset; handled queued on this window's thread.
    void resetRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private slots:
    void OnResetRenderer();

private:
    friend class TPlayThread;
    friend class TDisplayPlayThread;

    void StopThreads();
    void StartThreads();
    int LoadSource(int kind, const std::function<int()>& open);
    // Re-seeks the reader at the current time in the given direction and
    // waits, pumping events, until the prefetch thread has made a pass.
    void Reseek(int reverse);
    // Pauses the play thread for a change of pacing values (see SetSpeed).
    template <typename Change> void WithPlayThreadPaused(Change change);
    void UpdateClientSize();
    void StartStep();

    CQMParseIndex m_reader;
    std::string m_strPath;
    CVideoRenderer m_renderer;
    mutable std::mutex m_csDraw; // held around every call into m_renderer; guards m_rcCell

    ChannelLists m_lists; // user-interface thread only
    std::array<CellRect, kPlayerChannels> m_rcCell{};
    std::array<std::atomic<int>, kPlayerChannels> m_bDisplayed{};
    std::atomic<uint32_t> m_nDisplayedMask{0};
    std::array<std::atomic<int>, kPlayerChannels> m_bStarted{};

    // Per channel. The last video record is handed from the play thread to the
    // channel's display thread by the slot and frame-ready events; the shown
    // record (what the cell shows, payload not kept) and the picture buffer are
    // guarded by the channel's picture lock, taken before the drawing lock.
    std::array<FrameRecord, kPlayerChannels> m_lastVideo{};
    std::array<FrameRecord, kPlayerChannels> m_lastAudio{};
    std::array<FrameRecord, kPlayerChannels> m_shown{};
    std::array<VideoDecodeRecord, kPlayerChannels> m_decode;
    std::array<PictureBuffer, kPlayerChannels> m_picture;
    std::array<std::mutex, kPlayerChannels> m_csPicture;

    // The selected channel's sound: decoded and queued by the play thread.
    TAudioDecoderCtrl m_audioCtrl;
    std::unique_ptr<CWaveOutRenderImpl> m_pWaveOut; // made anew at every open
    std::function<std::unique_ptr<ISoundDevice>()> m_soundDeviceFactory;
    std::atomic<uint64_t> m_nSoundBytes{0};

    std::atomic<TPlayThread*> m_pPlayThread{nullptr};
    std::array<std::atomic<TDisplayPlayThread*>, kPlayerChannels> m_pDisplay{};

    std::atomic<uint64_t> m_nDrawCount{0};
    std::array<std::atomic<uint64_t>, kPlayerChannels> m_nStored{};
    std::array<std::atomic<uint64_t>, kPlayerChannels> m_nDecoded{};

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
