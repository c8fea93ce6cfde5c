#pragma once
// What the export's frame readers hand to the segment driver: one video frame
// of the exported channel, ready to be written as an AVI chunk, with its sound
// already decoded to PCM. Readers for each kind of source (archive file, DVR
// disk) implement IExportFrameReader; the segment driver does not care which.

#include "platform/byte_order.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qm {

// Result codes of the frame readers (a frame length is >= 0).
enum ExportReadResult : int {
    kExportOutOfMemory = -1,
    kExportEnd = -2, // end of data, end of the range, or cancelled
    kExportReadFailed = -3,
    kExportNoRecord = -7,
    kExportBlockHeaderUnreadable = -8,
    kExportWrongDiskBlockMarker = -9,
    kExportNoMiniHeader = -10,
    kExportWrongBlockMarker = -11,
    kExportEmptyList = -13,
};

// Sound buffer size the export starts with; the readers grow it.
constexpr size_t kExportAudioBufferBytes = 65536;
// A grown video buffer keeps this much room beyond the frame.
constexpr size_t kExportVideoMargin = 2048;

// What a frame is, apart from its bytes.
struct ExportFrameInfo {
    int width = 0;
    int height = 0;
    bool key = false;
    int videoKind = 0; // the AVI writer's video chunk kind
    int channel = 0;   // the camera, 0-31
    uint32_t seconds = 0;
    uint32_t subsecond = 0; // microseconds
    bool hasAudio = false;  // the frame carries sound, decoded or not
    uint8_t audioType = 0;  // the frame header's audio coding type
    uint8_t timeZone = 24;  // the frame header's zone byte and correction: its local time
    int8_t correction = 0;
    uint32_t sequence = 0;
};

struct ExportFrame : ExportFrameInfo {
    // The frame's own copy of its bytes, when they could not be lent (see
    // Lend); its size is the buffer's capacity. Grows on demand: a buffer
    // allocated up front costs a page fault per page on every export.
    std::vector<uint8_t> video;
    uint32_t length = 0;        // bytes of the frame
    std::vector<uint8_t> audio; // this frame's decoded PCM; empty when none

    ExportFrame() { audio.reserve(kExportAudioBufferBytes); }

    // The frame's bytes: lent by the reader that filled the frame, or its own.
    ByteView Video() const {
        if (m_lent) return ByteView(m_lent, length);
        return ByteView(video.data(), std::min<size_t>(length, video.size()));
    }
    // The bytes stay in the reader's buffer rather than being copied: valid
    // until that reader's next ReadFrame, which writers never outlive.
    void Lend(const uint8_t* bytes, uint32_t size) {
        m_lent = bytes;
        length = size;
    }
    // `video` holds the bytes again (length is the caller's to set).
    void Own() { m_lent = nullptr; }

private:
    const uint8_t* m_lent = nullptr;
};

// A frame kept aside (queued, or held before a range begins): exactly its
// bytes, not the reader's whole buffer.
struct HeldFrame {
    ExportFrameInfo info;
    std::vector<uint8_t> video;
    std::vector<uint8_t> audio;

    static HeldFrame Of(const ExportFrame& frame) {
        HeldFrame held;
        held.info = frame;
        const ByteView bytes = frame.Video();
        held.video.assign(bytes.data(), bytes.data() + bytes.size());
        held.audio = frame.audio;
        return held;
    }
    size_t Bytes() const { return video.size() + audio.size(); }
    // Puts the frame back into a reader's buffer (grown when too small); the
    // sound moves.
    void MoveInto(ExportFrame& frame) {
        if (frame.video.size() < video.size())
            frame.video.resize(video.size() + kExportVideoMargin);
        std::copy(video.begin(), video.end(), frame.video.begin());
        frame.Own();
        frame.length = uint32_t(video.size());
        frame.audio = std::move(audio);
        static_cast<ExportFrameInfo&>(frame) = info;
    }
};

class IExportFrameReader {
public:
    virtual ~IExportFrameReader() = default;
    // The next video frame of the channel: its length (>= 0) or an
    // ExportReadResult.
    virtual int ReadFrame(ExportFrame& frame) = 0;
    // Why the last read failed, in a few words; empty when it did not say.
    virtual const std::string& Error() const {
        static const std::string none;
        return none;
    }
    // Frames of the channel passed over because their header or data was damaged.
    virtual uint64_t DamagedFramesSkipped() const { return 0; }
};

class IExportAudioDecoder;

// Called for every picture a writer puts into a file, with its camera (0-31)
// and the frame as read (Video() are the bytes the recording stored).
// Called for every piece of the source a reader read, with its offset: a
// source too large to hash whole is vouched for by these.
using SourceReadCallback = std::function<void(uint64_t offset, ByteView bytes)>;

// What the readers share. An archive reader narrows the archive's own range
// to `from` and `to` (both ends inclusive); a disk reader is given its range.
struct ExportReaderSettings {
    std::optional<uint32_t> from;
    std::optional<uint32_t> to;
    IExportAudioDecoder* audioDecoder = nullptr;
    bool decodeAudio = true;
    const std::atomic<int>* cancel = nullptr; // non-zero: end the data
    std::atomic<int>* percent = nullptr;      // progress, 0-99 while reading
    SourceReadCallback sourceRead;            // the disk reader reports its reads
};

// Turns one frame's sound into 16-bit mono PCM at 8000 samples per second.
// `audioType` is the coding type in the frame's own header; `sound` the bytes
// after the audio area's length word. `pcm` is replaced by the samples.
// Returns false when this type cannot be decoded (the frame's sound is then
// left out).
class IExportAudioDecoder {
public:
    virtual ~IExportAudioDecoder() = default;
    virtual bool Decode(uint8_t audioType, ByteView sound, std::vector<uint8_t>& pcm) = 0;
};

// The export's percentage after a frame of block `blockOrdinal` of
// `blockCount`: how far into the block the frame ends, against the block
// header's reference (`divisor`; when it is missing the data length stands
// in). 0 to 99: 100 is the segment driver's to announce when the data ends.
int ExportProgressPercent(uint32_t positionAfterHeader, uint32_t divisor, uint32_t dataLength,
                          uint32_t blockOrdinal, size_t blockCount);

} // namespace qm
