#pragma once
// Frame-exact steps. The play thread's reader hands out frames in delivery
// order and, in reverse, key frames only; a step needs any camera's next or
// previous frame around a moment, and its picture even when that is a P
// frame. The step source reads a camera's frames around the moment through
// the export's readers (a descriptor of its own, so playback's reader is not
// disturbed), decodes from the key frame before the wanted one with a decoder
// of its own, and keeps the decoded pictures, so that stepping back through a
// group of pictures decodes it once.
//
// Used from the user-interface thread only, while the play thread is paused.

#include "codec/decode_frame.h"
#include "export/disk_export_source.h"
#include "storage/frame_record.h"

#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qm {

// Decoded pictures kept for all cameras together.
constexpr size_t kStepPictureCacheBytes = size_t(256) << 20;
// Recorded frames kept per camera around the moment.
constexpr size_t kStepFrameBytesPerCamera = size_t(64) << 20;

class TStepSource {
public:
    TStepSource();
    ~TStepSource();
    TStepSource(const TStepSource&) = delete;
    TStepSource& operator=(const TStepSource&) = delete;

    // An archive file, or a disk (device or image). False when it cannot be
    // read this way (the steps then fall back to the play thread).
    bool OpenArchive(const std::string& path);
    bool OpenDisk(const std::string& path);

    // Recorded milliseconds of the camera's frames around a moment.
    std::optional<int64_t> NextTime(int channel, int64_t afterMs);
    std::optional<int64_t> PrevTime(int channel, int64_t beforeMs);
    std::optional<int64_t> AtOrBefore(int channel, int64_t ms);

    // The camera's picture of the frame at exactly `ms` (one the lookups
    // above returned): `record` describes it as the reader would (size,
    // times, date, sequence; the payload is left alone) and `picture`
    // (PictureBuffer::kBytes long) receives it. False when it cannot be decoded.
    bool Picture(int channel, int64_t ms, FrameRecord& record, uint8_t* picture);

    // For tests and the notes: decodes done so far and bytes of pictures kept.
    uint64_t DecodeCount() const { return m_nDecodes; }
    size_t CachedBytes() const { return m_nCachedBytes; }

private:
    struct Frame {
        int64_t ms = 0;
        bool key = false;
        uint32_t sequence = 0;
        uint32_t seconds = 0;
        uint32_t microseconds = 0;
        uint8_t timeZone = 24;
        int8_t correction = 0;
        int width = 0;
        int height = 0;
        int videoKind = 0;
        std::vector<uint8_t> bytes;
    };
    struct Track {
        std::vector<Frame> frames; // recorded order
        uint32_t from = 1, to = 0; // seconds read (inclusive); from > to: nothing yet
        bool known = false;        // the recording's range below is known
        uint32_t rangeStart = 0, rangeEnd = 0;
        VideoDecodeRecord decoder;
        int decodedIndex = -1; // the frame the decoder last decoded, in `frames`
    };
    struct Cached {
        int channel;
        int64_t ms;
        uint32_t sequence;
        FrameRecord record;
        std::vector<uint8_t> picture;
    };

    // Reads the camera's frames of seconds [from, to]; false when the read failed.
    bool Fetch(int channel, uint32_t from, uint32_t to);
    // Makes sure the track holds the frames around `ms` that a step in the
    // given direction needs, with the key frame before them.
    void Cover(int channel, int64_t ms, int direction);
    bool Covers(const Track& track, int64_t ms, int direction) const;
    int IndexOf(const Track& track, int64_t ms) const;
    FrameRecord RecordOf(int channel, const Frame& frame) const;
    const Cached* Lookup(int channel, int64_t ms, uint32_t sequence);
    void Keep(int channel, int64_t ms, const FrameRecord& record, const uint8_t* picture);

    bool m_bDisk = false;
    int m_fd = -1;
    std::shared_ptr<const DiskExportSource> m_pDisk;
    std::array<Track, kMaxChannels> m_tracks;
    std::list<Cached> m_cache; // most recent first
    size_t m_nCachedBytes = 0;
    uint64_t m_nDecodes = 0;
    std::unique_ptr<uint8_t[]> m_scratch;
};

} // namespace qm
