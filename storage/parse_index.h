#pragma once
// The storage reader of one open recording. It loads the block index, keeps two
// block buffers per group filled ahead of playback (the prefetch thread), keeps
// every channel's next frame copied out of its buffer (the preparation thread)
// and hands frames out in recorded order (GetNextFrame / GetPrevFrame).
//
// Locks, always taken in this order: seek lock -> load lock -> buffer lock ->
// frame lock; the delivery lock is taken only by the getters and is followed
// by the frame lock. A slot is filled by the preparation thread only in frame
// state 0 and read by a getter only in state 2; the state word hands it over.

#include "platform/event.h"
#include "platform/raw_device.h"
#include "platform/thread_base.h"
#include "platform/timed_read.h"
#include "storage/formats.h"
#include "storage/frame_record.h"
#include "storage/frame_scan.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qm {

// Payload capacities of the records the play thread hands to the getters.
constexpr uint32_t kVideoPayloadCapacity = 1048576;
constexpr uint32_t kAudioPayloadCapacity = 131072;
constexpr uint32_t kExtraPayloadCapacity = 1024;

constexpr int kBlockBuffers = kMaxGroups * 2;

// Frame slot states.
enum FrameState : int {
    kSlotEmpty = 0,     // wants a frame
    kSlotNoVideo = 1,   // holds a frame without a video part
    kSlotReady = 2,     // holds a frame ready for delivery
    kSlotWaitBlock = 3, // waits for a block
};

// Block buffer states.
enum BufferState : int {
    kBufferFinished = -1,
    kBufferEmpty = 0,
    kBufferLoaded = 1,
    kBufferInUse = 2,
};

constexpr uint32_t kListPositionNone = 0x10000;
constexpr uint32_t kListPositionEnd = 0xFFFF;
constexpr uint32_t kSentinelBlock = 0xFFFF;

struct IFrameRef {
    uint32_t offset;     // byte offset of the frame header in the data area
    uint16_t timeOffset; // seconds after the block's start
    uint32_t position;   // index in the channel's list
};
struct PFrameRef {
    uint32_t offset;
    uint32_t position;
};

// One block of an archive, with the copies of its two frame tables made at open.
struct BlockEntry {
    MiniHeader mini;
    uint32_t blockNumber = kSentinelBlock;
    uint16_t iSectors = 0;
    uint16_t pSectors = 0;
    std::vector<uint8_t> iTable;
    std::vector<uint8_t> pTable;
    uint32_t iCount = 0;
    uint32_t pCount = 0;
    uint32_t listPosition = 0;
    bool IsSentinel() const { return blockNumber == kSentinelBlock; }
};

// Time limits of a whole-block read from a disk: the prefetch thread can wait
// longer than a seek, which the user is waiting for.
constexpr int64_t kDiskPrefetchReadTimeoutMs = 10000;
constexpr int64_t kDiskSeekReadTimeoutMs = 5000;

struct BlockBuffer {
    uint64_t filePosition = 0;
    std::vector<uint8_t> data; // capacity only grows
    uint32_t dataLength = 0;   // L
    std::atomic<int> state{kBufferEmpty};
    std::array<std::vector<IFrameRef>, kMaxChannels> iList;
    std::array<std::vector<PFrameRef>, kMaxChannels> pList;
    std::array<std::atomic<int>, kMaxChannels> lastKeyIndex;
    uint32_t listPosition = kListPositionNone;
    uint32_t startTime = 0;
    uint32_t endTime = 0;
    std::atomic<uint32_t> channelMask{0};
};

// A reverse cursor that starts at the last element of a list not loaded yet.
constexpr int kCursorFromEnd = 0x7FFFFFFF;

struct ChannelSlot {
    std::atomic<int> parity{0};
    int iCursor = -1; // index into the current buffer's I list, -1 none
    int pCursor = -1;
    uint32_t readOffset = 0;
    std::atomic<int> frameState{kSlotEmpty};
    // Guarded by the frame lock:
    FrameHeader header;
    std::vector<uint8_t> payload; // the frame's bytes after its header
    uint32_t payloadLength = 0;
    std::array<uint8_t, 32> info{};
    // Used by the getters only:
    uint32_t rememberedWidth = 0;
    uint32_t rememberedHeight = 0;
};

class CQMParseIndex {
public:
    CQMParseIndex();
    ~CQMParseIndex();
    CQMParseIndex(const CQMParseIndex&) = delete;
    CQMParseIndex& operator=(const CQMParseIndex&) = delete;

    bool OpenFile(const std::string& path);
    bool bReadInit();
    void CloseFile();

    // A DVR disk: drive n (the n-th whole disk of the computer), a block device
    // or disk image by path, or a device already opened (tests hand in devices
    // that fail on purpose). 1 on success, 0 with OpenError() set.
    bool OpenDisk(int drive);
    bool OpenDiskPath(const std::string& path);
    bool OpenDiskDevice(std::shared_ptr<IRawDevice> device, const std::string& name);

    // On a disk, SeekByTime runs SeekHDDByTime.
    bool SeekByTime(uint32_t time, int direction);
    bool SeekHDDByTime(uint32_t time, int direction);
    void ClearChannelLists(int channel, int k);

    int GetNextFrame(FrameRecord* video, int keyFramesOnly, FrameRecord* audio, int wantAudio,
                     FrameRecord* extra, int wantExtra);
    int GetPrevFrame(FrameRecord* video);

    // Wakes the preparation thread; the play thread calls it after taking a frame.
    void SignalPrepare() { m_evPrepare.Set(); }
    // Refills the emptied slots on the calling thread instead. A reader that
    // walks frames as fast as it can saves two thread switches per frame,
    // which cost more than a small frame's decoding. The preparation thread
    // still does what waits on a block load.
    void PrepareHere();

    // Waits until every recorded channel either holds a ready frame or can give
    // no more in the current direction. Returns false when nothing changed for
    // `stallMs` while some channel was still waiting. For deterministic listings.
    bool WaitForPreparedSlots(int64_t stallMs = 5000);
    // A count that moves whenever a slot or buffer changed; the play thread
    // waits on it instead of polling when no frame was ready.
    uint64_t Progress() const { return m_nProgress.load(); }
    // Waits until Progress() differs from `seen`; false when `timeoutMs` passed first.
    bool WaitForProgress(uint64_t seen, int64_t timeoutMs);

    // The pass handshake: after a seek, BeginPassWait asks the prefetch thread
    // for a pass begun from here on, and WaitForPass blocks until no seek runs
    // and such a pass has ended, so that every group's buffers are being
    // filled from the new position. False when `timeoutMs` passed first.
    void BeginPassWait() { m_nPassHandshake = 0; }
    bool WaitForPass(int64_t timeoutMs);

    bool IsOpen() const { return m_bOpen.load(); }
    // Every group's blocks have been read to the end in the current direction.
    bool AllBlocksFinished() const { return RecordingFinished(); }
    bool IsDisk() const { return m_pDisk != nullptr; }
    // Why the last open failed, in a few words for a message; empty after success.
    const std::string& OpenError() const { return m_strOpenError; }
    const std::string& Path() const { return m_strPath; }
    uint64_t ArchiveLength() const { return m_llArchiveLength; }
    int GroupCount() const { return m_nGroups; }
    // Blocks in the group's list, sentinels not counted.
    size_t BlockCount(int group) const;
    const std::vector<BlockEntry>& BlockList(int group) const { return m_blockLists[group]; }

    // The open disk, for readers of their own (the export): its device, its
    // information sector, and each group's blocks in recording order, every
    // entry's sequence field holding the block's slot number.
    std::shared_ptr<IRawDevice> DiskDevice() const { return m_pDisk; }
    const DiskInfo& DiskInformation() const { return m_diskInfo; }
    const std::array<uint8_t, kDiskInfoSize>& DiskInfoBytes() const { return m_diskInfoBytes; }
    uint64_t DiskInfoPosition() const { return m_llDiskInfoOffset; }
    const std::vector<MiniHeader>& DiskBlockList(int group) const { return m_diskLists[group]; }
    // Time limits of the disk's block reads (the prefetch's and a seek's);
    // tests shorten them.
    void SetDiskReadTimeouts(int64_t prefetchMs, int64_t seekMs) {
        m_llPrefetchTimeoutMs = prefetchMs;
        m_llSeekTimeoutMs = seekMs;
    }
    // Frames of the channels in `mask` that the preparation passed over
    // because their header or tables were damaged, since the recording was opened.
    uint64_t DamagedFramesSkipped(uint32_t mask = 0xFFFFFFFFu) const {
        uint64_t n = 0;
        for (int c = 0; c < kMaxChannels; ++c)
            if (mask & (1u << c)) n += m_nDamagedFrames[c].load();
        return n;
    }
    // The frame header index of the last delivered video frame (not in the record).
    uint32_t LastDeliveredIndex() const { return m_nLastIndex.load(); }
    int FrameStateOf(int channel) const { return m_channels[channel].frameState.load(); }
    int BufferStateOf(int buffer) const { return m_buffers[buffer].state.load(); }

    // Recording properties, fixed while the recording is open.
    uint32_t m_nStartTime = 0;
    uint32_t m_nEndTime = 0;
    uint32_t m_nFirstMiniStart = 0;
    uint32_t m_nLastMiniEnd = 0;
    uint32_t m_nChannelMask = 0;
    int m_nByteOrder = kByteOrderLittle;
    uint32_t m_nCodec = kCodecH264;
    int m_nTimeOffset = 0;
    uint32_t m_nBlockSize = 0;
    // The archive's own index was damaged: its blocks were found by a scan.
    bool m_bRecovered = false;
    uint32_t m_nRecoveredBlocks = 0;

    // Shared with the player and the main window.
    std::atomic<uint64_t> m_llTotalSize{0};
    std::atomic<uint64_t> m_llReadPosition{0};
    std::atomic<bool> m_bSeeking{false};
    // 0: a pass is asked for; 1: the pass asked for is under way; -1: done.
    std::atomic<int> m_nPassHandshake{0};
    std::atomic<int> m_nDirection{0}; // 0 forward, 1 reverse
    std::atomic<int> m_nLoadMode{0};  // 0 all frames, otherwise key frames only
    Event m_evOpened{false, false};

private:
    class ReaderThread;

    void ResetPerOpenState();
    bool LoadIndex(int fd);
    bool LoadArchiveBlock(int fd, const BlockEntry& entry, int bufferIndex, bool keyFramesOnly,
                          bool initialAllocation);
    void LogBlockLoad(const BlockEntry& entry, const char* how) const;
    // Lists the frames of the block in `buffer` (its data area already read)
    // from its tables, or from a scan of the data area when the tables are
    // judged damaged.
    void BuildFrameLists(const FrameTables& tables, const BlockHeader& header, int group,
                         BlockBuffer& buffer, bool keyFramesOnly);
    void EmptyBuffers(bool freeData);
    void FreeBlockLists();
    void StartThreads();
    void StopThreads();

    // Walking a group's block list. Index 0 and the last index stand for the
    // list's head and tail, as the archive's sentinels do; a disk's list has
    // its blocks at 1..n.
    int ListLength(int group) const;
    // The index of the next block to load into buffer b in the play
    // direction, or -1 (passing over the ends, marking the group finished).
    int StepForward(int group, int b, int other);
    int StepReverse(int group, int b, int other);
    void MarkGroupFinished(int b, int other, uint64_t readPosition);
    void ReleaseWaitingChannels();
    // A seek's walk from the list's start in `direction` to the first block
    // `contains` accepts; its index or -1. The cursor is left past it.
    int SeekWalk(int group, int direction, const std::function<bool(int)>& contains);
    // Empties every buffer for a seek and sets the new direction.
    void ResetBuffersForSeek(int direction);
    // Places the group's channels at their first key frame at or after `time`
    // in the group's first buffer. A disk seek cannot place a channel with
    // fewer than two key frames in the block.
    void PlaceChannels(int group, uint32_t time, bool disk);
    void FinishSeek();

    // Where the prefetch thread takes its blocks from: the archive file or the
    // disk. Both walk the same lists with the same pass loop.
    class BlockSource {
    public:
        virtual ~BlockSource() = default;
        // Loads list element v of group g into the empty buffer b, in the play
        // direction; called under the load lock. Takes the buffer lock itself,
        // for as short a time as its medium allows.
        virtual void Load(int g, int b, int v, bool forward) = 0;
    };
    class ArchiveBlockSource;
    class DiskBlockSource;
    void PrefetchLoop(BlockSource& source);
    // Sleeps until the running seek has ended (or the thread is asked to stop).
    void WaitWhileSeeking();
    // Clears the seek flag and wakes the threads and whoever waits for a pass.
    void EndSeek();

    void WatchThreadProc();

    bool OpenDiskInternal();
    bool ReadDiskInfo();
    bool LoadDiskIndex();
    // After a seek could not read its block: the group's channels start the
    // next block loaded from its first frame in the play direction.
    void StartGroupWithNextBlock(int group, int direction);
    void WatchHDDThread();
    // Reads the block at disk list index v into buffer b (empty, so no other
    // thread looks at it). False when the read failed or timed out or the
    // block is damaged: the buffer then holds no block.
    bool ReadDiskBlock(int v, int b, int64_t timeoutMs, BlockHeader& header,
                       BlockGeometry& geometry);
    // Lists the frames of the block just read and hands the buffer out (under
    // the buffer lock).
    void PublishDiskBlock(int v, int b, const BlockHeader& header, const BlockGeometry& geometry,
                          bool keyFramesOnly, const char* how);

    int bPrepareFirstFrame(int group);
    void PrepareThreadProc();
    bool PreparePass();
    void PrepareForward(int c, int g, int k);
    void PrepareReverse(int c, int g, int k);
    bool TakeForward(int c, int b);
    bool TakeReverse(int c, int b);
    void MaybeReleaseBuffer(int g, int k);
    // Reads the frame header at `offset` of `buffer`; nullopt when it does not fit.
    std::optional<FrameHeader> HeaderAt(const BlockBuffer& buffer, uint32_t offset) const;
    // Copies a frame's bytes into the slot when its header and areas are sound.
    void FillSlot(ChannelSlot& slot, const BlockBuffer& buffer, uint32_t offset,
                  const FrameHeader& header);
    bool FrameIsSound(const BlockBuffer& buffer, uint32_t offset, const FrameHeader& header) const;
    static int StateForHeader(const FrameHeader& header);

    int ChooseChannel(bool latest);
    bool FillVideoRecord(int channel, FrameRecord* video, bool forward);
    static bool CopyArea(const FrameArea& area, FrameRecord* record, uint32_t capacity);
    // True when the channel cannot give a frame before other channels deliver theirs.
    bool ChannelSettled(int channel) const;
    // Every group's buffers are marked finished: nothing more in this direction.
    bool RecordingFinished() const;

    std::string m_strPath;
    std::string m_strOpenError;
    int m_fdArchive = -1; // the member stream kept open while the recording is open
    uint64_t m_llArchiveLength = 0;
    int m_nGroups = 1;
    std::atomic<bool> m_bOpen{false};

    std::array<std::vector<BlockEntry>, kMaxGroups> m_blockLists;

    // The open disk; null while an archive or nothing is open.
    std::shared_ptr<IRawDevice> m_pDisk;
    std::unique_ptr<TimedBlockReader> m_pBlockReader;
    DiskInfo m_diskInfo;
    std::array<uint8_t, kDiskInfoSize> m_diskInfoBytes{};
    uint64_t m_llDiskInfoOffset = 0;
    std::array<std::vector<MiniHeader>, kMaxGroups> m_diskLists;
    std::atomic<int64_t> m_llPrefetchTimeoutMs{kDiskPrefetchReadTimeoutMs};
    std::atomic<int64_t> m_llSeekTimeoutMs{kDiskSeekReadTimeoutMs};
    // Written by the prefetch thread and the seek (under the load lock), read by
    // the preparation thread to tell the end of the recording.
    std::array<std::atomic<int>, kMaxGroups> m_blockCursor{}; // list index, -1 none
    std::array<std::atomic<int>, kMaxGroups> m_nListState{};  // 0 before, 1 inside, 2 after

    std::array<BlockBuffer, kBlockBuffers> m_buffers;
    std::array<ChannelSlot, kMaxChannels> m_channels;
    // Channels that have left their current buffer; written under the buffer lock.
    std::atomic<uint32_t> m_nSwitchedMask{0};

    std::unique_ptr<ReaderThread> m_pPrepareThread;
    std::unique_ptr<ReaderThread> m_pWatchThread;
    std::atomic<bool> m_bPrepareRunning{false};
    std::atomic<bool> m_bWatchRunning{false};
    Event m_evPrepare{false, false};
    Event m_evWatch{false, false}; // wakes the prefetch thread when a buffer is handed back
    // Bumped whenever a slot or buffer changes; WaitForPreparedSlots sleeps on it.
    std::atomic<uint64_t> m_nProgress{0};
    std::mutex m_csProgress; // a leaf lock: nothing is taken inside it
    std::condition_variable m_cvProgress;
    void NoteProgress() {
        {
            std::lock_guard lock(m_csProgress);
            ++m_nProgress;
        }
        m_cvProgress.notify_all();
    }

    // Set by the latest GetNextFrame: the preparation then passes over other
    // frames without copying them, so fast play is not held up by frames it
    // would throw away.
    std::atomic<bool> m_bKeyFramesOnly{false};
    std::atomic<uint64_t> m_nPreparePasses{0};
    std::atomic<uint32_t> m_nLastIndex{0};
    std::array<std::atomic<uint64_t>, kMaxChannels> m_nDamagedFrames{};

    std::mutex m_csSeek;
    std::mutex m_csLoad;
    std::mutex m_csBuffers;
    std::mutex m_csDelivery;
    std::mutex m_csFrame;
};

} // namespace qm
