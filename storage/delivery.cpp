// Handing prepared frames out as FrameRecords: the earliest ready frame of all
// channels for forward play, the latest for reverse play.

#include "platform/diagnostics.h"
#include "platform/wall_clock.h"
#include "storage/parse_index.h"
#include "storage/picture_size.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

namespace qm {

namespace {

constexpr uint32_t kMaxHeaderPictureSide = 2048;

void FillDate(FrameRecord* record, int64_t localTime) {
    const time_t t = time_t(localTime);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return;
    record->year = uint16_t(tm.tm_year + 1900);
    record->month = uint8_t(tm.tm_mon + 1);
    record->day = uint8_t(tm.tm_mday);
    record->hour = uint8_t(tm.tm_hour);
    record->minute = uint8_t(tm.tm_min);
    record->second = uint8_t(tm.tm_sec);
}

} // namespace

int CQMParseIndex::ChooseChannel(bool latest) {
    int best = -1;
    uint64_t bestKey = 0;
    for (int c = 0; c < kMaxChannels; ++c) {
        if (m_channels[c].frameState.load(std::memory_order_acquire) != kSlotReady) continue;
        const FrameHeader& h = m_channels[c].header;
        const uint64_t key = (uint64_t(h.time) << 16) | h.milliseconds;
        // Strict comparisons keep ties on the lower channel in both directions.
        if (best < 0 || (latest ? key > bestKey : key < bestKey)) {
            best = c;
            bestKey = key;
        }
    }
    return best;
}

// Fills the video record of channel c from its slot. False when the frame is
// dropped (its video part is damaged, empty or too large for the record).
bool CQMParseIndex::FillVideoRecord(int c, FrameRecord* video, bool forward) {
    ChannelSlot& slot = m_channels[c];
    const FrameHeader& h = slot.header;
    video->Clear();
    video->recordLength = 128;
    video->sequence = h.sequence;
    // Forward records name the coding the frame header gives; MPEG-4 recordings
    // keep their own code so that they reach the MPEG-4 decoder.
    if (forward)
        video->codec =
            h.isMjpeg() ? kCodecMJPG : (m_nCodec == kCodecSOLO ? kCodecSOLO : kCodecH264);
    else
        video->codec = m_nCodec;
    video->channel = uint16_t(c);
    video->type = h.isKey() ? kFrameTypeKey : kFrameTypeOther;
    uint32_t width = h.width();
    uint32_t height = h.height();
    FillDate(video, h.localTime());
    video->timeZone = h.timeZone;
    video->correction = h.correction;
    video->time = h.time;
    video->microseconds = uint32_t(h.milliseconds) * 1000;
    m_nLastIndex = h.index;

    const uint8_t order = uint8_t(m_nByteOrder);
    const FrameAreas areas =
        locateFrameAreas(h, ByteView(slot.payload.data(), slot.payloadLength), order);
    if (!areas.video.present || !areas.video.valid) return false;
    auto parts = videoStreamParts(m_nCodec, h.isKey(), areas.video.bytes);
    if (!parts) return false;
    const size_t size = parts->totalSize();
    if (size == 0) return false;
    if (size > kVideoPayloadCapacity) {
        qmLogAt(6, log_tag::kParseIndex,
                "(GetNextFrame) CH:%d frame of %zu bytes exceeds the record\n", c, size);
        return false;
    }
    if (video->payload) parts->copyTo(std::span<uint8_t>(video->payload, size));
    video->size = uint32_t(size);

    if (width == 0 || height == 0 || width > kMaxHeaderPictureSide ||
        height > kMaxHeaderPictureSide) {
        std::vector<uint8_t> stream;
        parts->appendTo(stream);
        std::optional<PictureSize> coded;
        if (h.isMjpeg() || m_nCodec == kCodecMJPG)
            coded = JpegSof0Size(stream.data(), stream.size());
        else if (h.isKey())
            coded = H264SpsSize(stream.data(), stream.size());
        if (coded) {
            width = uint32_t(coded->width);
            height = uint32_t(coded->height);
        } else if (slot.rememberedWidth) {
            width = slot.rememberedWidth;
            height = slot.rememberedHeight;
        }
    }
    if (slot.rememberedWidth == 0 || h.isKey()) {
        slot.rememberedWidth = width;
        slot.rememberedHeight = height;
    }
    video->width = uint16_t(std::min<uint32_t>(width, 0xFFFF));
    video->height = uint16_t(std::min<uint32_t>(height, 0xFFFF));

    if (h.isKey() && areas.infoBlock)
        std::memcpy(slot.info.data(), areas.infoBlock->data(), slot.info.size());
    std::memcpy(video->info, slot.info.data(), sizeof video->info);
    return true;
}

// Copies an audio or user-data area into its record; a damaged area leaves the
// record empty but does not cost the video frame.
bool CQMParseIndex::CopyArea(const FrameArea& area, FrameRecord* record, uint32_t capacity) {
    if (!area.present) return true;
    if (!area.valid || area.bytes.size() > capacity) {
        record->size = 0;
        return false;
    }
    record->size = uint32_t(area.bytes.size());
    if (record->payload && record->size)
        std::memcpy(record->payload, area.bytes.data(), record->size);
    return true;
}

int CQMParseIndex::GetNextFrame(FrameRecord* video, int keyFramesOnly, FrameRecord* audio,
                                int wantAudio, FrameRecord* extra, int wantExtra) {
    if (!video) return 0;
    m_bKeyFramesOnly = keyFramesOnly != 0;
    std::lock_guard delivery(m_csDelivery);
    std::lock_guard frame(m_csFrame);
    for (;;) {
        const int c = ChooseChannel(false);
        if (c < 0) return 0;
        ChannelSlot& slot = m_channels[c];
        BlockBuffer& buffer = m_buffers[(c / kChannelsPerGroup) * 2 + slot.parity % 2];
        int loaded = kBufferLoaded;
        buffer.state.compare_exchange_strong(loaded, kBufferInUse);

        const FrameHeader& h = slot.header;
        if (keyFramesOnly && !h.isKey()) {
            slot.frameState.store(kSlotEmpty, std::memory_order_release);
            m_evPrepare.Set();
            continue;
        }
        if (h.isKey()) buffer.lastKeyIndex[c] = h.index;
        if (!FillVideoRecord(c, video, true)) {
            slot.frameState.store(kSlotEmpty, std::memory_order_release);
            return 0;
        }

        const FrameAreas areas = locateFrameAreas(
            h, ByteView(slot.payload.data(), slot.payloadLength), uint8_t(m_nByteOrder));
        bool complete = true;
        if (wantAudio && audio) {
            audio->Clear();
            audio->recordLength = 128;
            audio->type = kFrameTypeAudio;
            audio->codec = h.audioType();
            audio->channel = uint16_t(c);
            audio->time = h.time;
            audio->microseconds = uint32_t(h.milliseconds) * 1000;
            complete = CopyArea(areas.audio, audio, kAudioPayloadCapacity);
        }
        if (complete && wantExtra && extra && h.userDataEnd != h.audioEnd) {
            extra->Clear();
            extra->recordLength = 128;
            extra->type = kFrameTypeUserData;
            extra->channel = uint16_t(c);
            CopyArea(areas.userData, extra, kExtraPayloadCapacity);
        }
        slot.frameState.store(kSlotEmpty, std::memory_order_release);
        return 1;
    }
}

int CQMParseIndex::GetPrevFrame(FrameRecord* video) {
    if (!video) return 0;
    std::lock_guard delivery(m_csDelivery);
    std::lock_guard frame(m_csFrame);
    for (const auto& slot : m_channels)
        if (slot.frameState.load() == kSlotEmpty) {
            m_evPrepare.Set();
            break;
        }
    const int c = ChooseChannel(true);
    if (c < 0) return 0;
    ChannelSlot& slot = m_channels[c];
    BlockBuffer& buffer = m_buffers[(c / kChannelsPerGroup) * 2 + slot.parity % 2];
    int loaded = kBufferLoaded;
    buffer.state.compare_exchange_strong(loaded, kBufferInUse);
    if (slot.header.isKey()) buffer.lastKeyIndex[c] = slot.header.index;
    const bool ok = FillVideoRecord(c, video, false);
    slot.frameState.store(kSlotEmpty, std::memory_order_release);
    return ok ? 1 : 0;
}

bool CQMParseIndex::ChannelSettled(int c) const {
    const int g = c / kChannelsPerGroup;
    if (g >= m_nGroups) return true;
    const BlockBuffer& b0 = m_buffers[g * 2];
    const BlockBuffer& b1 = m_buffers[g * 2 + 1];
    if (b0.state == kBufferFinished && b1.state == kBufferFinished) return true;
    // A channel that no loaded block lists is never served.
    const uint32_t bit = 1u << c;
    // A channel that has moved on can give nothing more until the other
    // channels of its buffer have been delivered.
    if (m_nSwitchedMask & bit) return true;
    return !(b0.channelMask & bit) && !(b1.channelMask & bit);
}

bool CQMParseIndex::RecordingFinished() const {
    for (int g = 0; g < m_nGroups; ++g) {
        const uint32_t groupBits = 0xFFFFu << (g * kChannelsPerGroup);
        if (!(m_nChannelMask & groupBits)) continue;
        if (m_buffers[g * 2].state != kBufferFinished ||
            m_buffers[g * 2 + 1].state != kBufferFinished)
            return false;
    }
    return true;
}

bool CQMParseIndex::WaitForProgress(uint64_t seen, int64_t timeoutMs) {
    std::unique_lock lock(m_csProgress);
    return m_cvProgress.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return m_nProgress != seen; });
}

bool CQMParseIndex::WaitForPreparedSlots(int64_t stallMs) {
    int64_t lastChange = WallClockMs();
    uint64_t progress = m_nProgress;
    for (;;) {
        bool anyReady = false;
        for (int c = 0; c < kMaxChannels && !anyReady; ++c)
            anyReady = m_channels[c].frameState.load(std::memory_order_acquire) == kSlotReady;
        // A channel waiting for the others only counts as settled while some
        // frame can be delivered; with none ready, only the end of the
        // recording ends the wait (the buffer hand-over is still under way).
        bool settled = anyReady || RecordingFinished();
        for (int c = 0; c < kMaxChannels && settled && anyReady; ++c) {
            if (!(m_nChannelMask & (1u << c))) continue;
            const int state = m_channels[c].frameState.load(std::memory_order_acquire);
            if (state != kSlotReady && !ChannelSettled(c)) settled = false;
        }
        if (settled) return true;
        m_evPrepare.Set();
        {
            // Woken by the next change; the time-out only bounds a missed one.
            std::unique_lock lock(m_csProgress);
            m_cvProgress.wait_for(lock, std::chrono::milliseconds(2),
                                  [&] { return m_nProgress != progress; });
        }
        const uint64_t now = m_nProgress;
        if (now != progress) {
            progress = now;
            lastChange = WallClockMs();
        } else if (WallClockMs() - lastChange > stallMs) {
            for (int c = 0; c < kMaxChannels; ++c)
                if (m_nChannelMask & (1u << c))
                    qmLogAt(7, log_tag::kParseIndex,
                            "(WaitForPreparedSlots) stalled CH:%d state:%d "
                            "parity:%d buffers:%d/%d/%d/%d\n",
                            c, m_channels[c].frameState.load(), m_channels[c].parity.load(),
                            m_buffers[0].state.load(), m_buffers[1].state.load(),
                            m_buffers[2].state.load(), m_buffers[3].state.load());
            return false;
        }
    }
}

} // namespace qm
