#include "player/step_source.h"

#include "export/archive_frame_reader.h"
#include "export/avi_writer.h"
#include "export/disk_frame_reader.h"
#include "player/picture_buffer.h"
#include "storage/formats.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

namespace qm {

namespace {

// Seconds read around the moment at first; doubled while the key frame
// before it (or the next frame, across a gap) is not yet among them.
constexpr uint32_t kFirstReach = 2;
constexpr uint32_t kLongestReach = 1u << 30; // past any recording's length

int64_t FrameMs(uint32_t seconds, uint32_t microseconds) {
    return int64_t(seconds) * 1000 + microseconds / 1000;
}

// The decoder's codec code for an export frame, as the play thread's reader
// names it: MJPEG, MPEG-4 (SOLO) or H.264 (every chip wrapping unwrapped).
uint32_t CodecOfKind(int videoKind) {
    switch (videoKind) {
    case kAviVideoMjpeg:
        return kCodecMJPG;
    case kAviVideoH264:
        return kCodecH264;
    default:
        return kCodecSOLO;
    }
}

} // namespace

TStepSource::TStepSource() : m_scratch(new uint8_t[PictureBuffer::kBytes]) {}

TStepSource::~TStepSource() {
    if (m_fd >= 0) ::close(m_fd);
}

bool TStepSource::OpenArchive(const std::string& path) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    m_bDisk = false;
    return m_fd >= 0;
}

bool TStepSource::OpenDisk(const std::string& path) {
    std::string error;
    m_pDisk = OpenDiskForExport(path, error);
    m_bDisk = true;
    return m_pDisk != nullptr;
}

bool TStepSource::Fetch(int channel, uint32_t from, uint32_t to) {
    Track& track = m_tracks[channel];
    ExportReaderSettings settings;
    settings.from = from;
    settings.to = to;
    settings.decodeAudio = false;
    std::unique_ptr<IExportFrameReader> reader;
    if (m_bDisk) {
        if (!m_pDisk) return false;
        if (!track.known) {
            track.rangeStart = m_pDisk->index.startTime;
            track.rangeEnd = m_pDisk->index.endTime;
            track.known = true;
        }
        from = std::max(from, track.rangeStart);
        to = std::min(to, track.rangeEnd);
        if (from > to) return false;
        auto disk = std::make_unique<TDiskFrameReader>(settings);
        if (!disk->bBuildBlockIndexList_AVI(m_pDisk, channel, from, to)) return false;
        reader = std::move(disk);
    } else {
        if (m_fd < 0) return false;
        auto archive = std::make_unique<TArchiveFrameReader>(settings);
        if (!archive->bBuildBlockIndexList_AVI(m_fd, channel)) return false;
        if (!track.known) {
            track.rangeStart = archive->Header().startTime;
            track.rangeEnd = archive->Header().endTime;
            track.known = true;
        }
        reader = std::move(archive);
    }

    std::vector<Frame> frames;
    size_t bytes = 0;
    ExportFrame frame;
    for (;;) {
        const int length = reader->ReadFrame(frame);
        if (length < 0) break;
        if (bytes + size_t(length) > kStepFrameBytesPerCamera) {
            // Too much to keep: the window ends before this frame.
            to = frame.seconds > from ? frame.seconds - 1 : from;
            while (!frames.empty() && frames.back().seconds > to) {
                bytes -= frames.back().bytes.size();
                frames.pop_back();
            }
            break;
        }
        Frame f;
        f.ms = FrameMs(frame.seconds, frame.subsecond);
        f.key = frame.key;
        f.sequence = frame.sequence;
        f.seconds = frame.seconds;
        f.microseconds = frame.subsecond;
        f.timeZone = frame.timeZone;
        f.correction = frame.correction;
        f.width = frame.width;
        f.height = frame.height;
        f.videoKind = frame.videoKind;
        const ByteView video = frame.Video();
        f.bytes.assign(video.data(), video.data() + video.size());
        bytes += f.bytes.size();
        // Recorded order is time order; a frame out of it would break the
        // searches below and is left out.
        if (!frames.empty() && f.ms < frames.back().ms) continue;
        frames.push_back(std::move(f));
    }
    track.frames = std::move(frames);
    track.from = from;
    track.to = to;
    track.decodedIndex = -1;
    return true;
}

bool TStepSource::Covers(const Track& track, int64_t ms, int direction) const {
    if (track.from > track.to) return false;
    const auto& frames = track.frames;
    // The frame wanted: the first after `ms` (forward), the last before it
    // (back), or the last at or before it.
    int index = -1;
    if (direction > 0) {
        if (ms < FrameMs(track.from, 0) && track.from > track.rangeStart) return false;
        auto it = std::upper_bound(frames.begin(), frames.end(), ms,
                                   [](int64_t t, const Frame& f) { return t < f.ms; });
        if (it == frames.end()) return track.to >= track.rangeEnd;
        index = int(it - frames.begin());
    } else {
        const int64_t limit = direction < 0 ? ms - 1 : ms;
        // Nothing later may be missing in between.
        if (limit > FrameMs(track.to, 999999) && track.to < track.rangeEnd) return false;
        auto it = std::upper_bound(frames.begin(), frames.end(), limit,
                                   [](int64_t t, const Frame& f) { return t < f.ms; });
        if (it == frames.begin()) return track.from <= track.rangeStart;
        index = int(it - frames.begin()) - 1;
    }
    if (frames[index].ms < FrameMs(track.from, 0)) return false;
    for (int i = index; i >= 0; --i)
        if (frames[i].key) return true;
    return track.from <= track.rangeStart; // no key frame before it at all
}

void TStepSource::Cover(int channel, int64_t ms, int direction) {
    Track& track = m_tracks[channel];
    if (track.known && Covers(track, ms, direction)) return;
    const uint32_t at = uint32_t(std::max<int64_t>(ms, 0) / 1000);
    uint32_t before = kFirstReach, after = kFirstReach;
    // Each round doubles a reach: 2 s to a few years in well under 40 rounds.
    for (int round = 0; round < 40; ++round) {
        const uint32_t from = at > before ? at - before : 0;
        const uint32_t to = at + after < at ? UINT32_MAX : at + after;
        if (!Fetch(channel, from, to)) return;
        if (Covers(track, ms, direction)) return;
        const bool early = track.from <= track.rangeStart;
        const bool late = track.to >= track.rangeEnd;
        if (early && late) return;
        // Reach further on the side that lacks frames: forward across a gap,
        // back to the key frame (and across a gap).
        if (direction > 0 && !late) after = std::min(after * 2, kLongestReach);
        if (!early) before = std::min(before * 2, kLongestReach);
        if (direction <= 0 && early && !late) after = std::min(after * 2, kLongestReach);
    }
}

int TStepSource::IndexOf(const Track& track, int64_t ms) const {
    auto it = std::lower_bound(track.frames.begin(), track.frames.end(), ms,
                               [](const Frame& f, int64_t t) { return f.ms < t; });
    if (it == track.frames.end() || it->ms != ms) return -1;
    return int(it - track.frames.begin());
}

std::optional<int64_t> TStepSource::NextTime(int channel, int64_t afterMs) {
    if (channel < 0 || channel >= kMaxChannels) return std::nullopt;
    Cover(channel, afterMs, 1);
    const auto& frames = m_tracks[channel].frames;
    auto it = std::upper_bound(frames.begin(), frames.end(), afterMs,
                               [](int64_t t, const Frame& f) { return t < f.ms; });
    if (it == frames.end()) return std::nullopt;
    return it->ms;
}

std::optional<int64_t> TStepSource::PrevTime(int channel, int64_t beforeMs) {
    return AtOrBefore(channel, beforeMs - 1);
}

std::optional<int64_t> TStepSource::AtOrBefore(int channel, int64_t ms) {
    if (channel < 0 || channel >= kMaxChannels) return std::nullopt;
    Cover(channel, ms, 0);
    const auto& frames = m_tracks[channel].frames;
    auto it = std::upper_bound(frames.begin(), frames.end(), ms,
                               [](int64_t t, const Frame& f) { return t < f.ms; });
    if (it == frames.begin()) return std::nullopt;
    return std::prev(it)->ms;
}

FrameRecord TStepSource::RecordOf(int channel, const Frame& frame) const {
    FrameRecord record{};
    record.recordLength = 128;
    record.sequence = frame.sequence;
    record.codec = CodecOfKind(frame.videoKind);
    record.channel = uint16_t(channel);
    record.type = frame.key ? kFrameTypeKey : kFrameTypeOther;
    record.width = uint16_t(frame.width);
    record.height = uint16_t(frame.height);
    record.size = uint32_t(frame.bytes.size());
    record.timeZone = frame.timeZone;
    record.correction = frame.correction;
    record.time = frame.seconds;
    record.microseconds = frame.microseconds;
    // The date the picture shows is the recorder's local time.
    FrameHeader header{};
    header.time = frame.seconds;
    header.timeZone = frame.timeZone;
    header.correction = frame.correction;
    const time_t local = time_t(header.localTime());
    std::tm tm{};
    if (gmtime_r(&local, &tm)) {
        record.year = uint16_t(tm.tm_year + 1900);
        record.month = uint8_t(tm.tm_mon + 1);
        record.day = uint8_t(tm.tm_mday);
        record.hour = uint8_t(tm.tm_hour);
        record.minute = uint8_t(tm.tm_min);
        record.second = uint8_t(tm.tm_sec);
    }
    return record;
}

const TStepSource::Cached* TStepSource::Lookup(int channel, int64_t ms, uint32_t sequence) {
    for (auto it = m_cache.begin(); it != m_cache.end(); ++it) {
        if (it->channel != channel || it->ms != ms || it->sequence != sequence) continue;
        m_cache.splice(m_cache.begin(), m_cache, it);
        return &m_cache.front();
    }
    return nullptr;
}

void TStepSource::Keep(int channel, int64_t ms, const FrameRecord& record, const uint8_t* picture) {
    const size_t bytes = size_t(record.width) * size_t(DecodeHeight(record.height)) * 4;
    if (bytes == 0 || bytes > PictureBuffer::kBytes || bytes > kStepPictureCacheBytes) return;
    while (!m_cache.empty() && m_nCachedBytes + bytes > kStepPictureCacheBytes) {
        m_nCachedBytes -= m_cache.back().picture.size();
        m_cache.pop_back();
    }
    Cached cached{channel, ms, record.sequence, record, {}};
    cached.picture.assign(picture, picture + bytes);
    m_cache.push_front(std::move(cached));
    m_nCachedBytes += bytes;
}

bool TStepSource::Picture(int channel, int64_t ms, FrameRecord& record, uint8_t* picture) {
    if (channel < 0 || channel >= kMaxChannels || !picture) return false;
    Track& track = m_tracks[channel];
    int index = IndexOf(track, ms);
    if (index < 0) {
        Cover(channel, ms, 0);
        index = IndexOf(track, ms);
        if (index < 0) return false;
    }
    const Frame& wanted = track.frames[size_t(index)];
    if (const Cached* cached = Lookup(channel, ms, wanted.sequence)) {
        record = cached->record;
        std::memcpy(picture, cached->picture.data(), cached->picture.size());
        return true;
    }

    // Decode from the key frame before it, or on from the frame the decoder
    // stands on when that lies between them.
    int key = index;
    while (key >= 0 && !track.frames[size_t(key)].key)
        --key;
    if (key < 0) return false;
    int first = key;
    if (track.decodedIndex >= key && track.decodedIndex < index) first = track.decodedIndex + 1;
    bool ok = false;
    for (int i = first; i <= index; ++i) {
        const Frame& frame = track.frames[size_t(i)];
        FrameRecord r = RecordOf(channel, frame);
        r.payload = const_cast<uint8_t*>(frame.bytes.data()); // the decoder only reads it
        ++m_nDecodes;
        ok = DecodeVideoFrame(r, track.decoder, m_scratch.get());
        track.decodedIndex = ok ? i : -1;
        if (!ok) continue;
        r.payload = nullptr;
        Keep(channel, frame.ms, r, m_scratch.get());
        if (i == index) {
            record = r;
            std::memcpy(picture, m_scratch.get(),
                        size_t(r.width) * size_t(DecodeHeight(r.height)) * 4);
        }
    }
    return ok;
}

} // namespace qm
