// Frame processing: decoding a channel's last frame into its picture buffer,
// drawing it into the channel's cell, redrawing stored pictures, and the
// audio dispatch of the selected channel.

#include "platform/diagnostics.h"
#include "player/player_ex.h"
#include "player/step_source.h"

#include "render/wave_out_render_impl.h"
#include <QImage>

#include <array>
#include <cstring>
#include <vector>

#include <chrono>
#include <ctime>

namespace qm {

namespace {

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

// The audio decoder types that play the frame header's audio types.
constexpr int kAudioDecoderHisiAdpcm = 3;
constexpr int kAudioDecoderHisiG711 = 7;
constexpr int kG711PartBytes = 320;

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kFileTimeEpochOffset = 116444736000000000ull;

} // namespace

uint64_t FrameFileTime(const FrameRecord& record) {
    // The record carries the recorder's local date; it is shown as it is, so
    // no time zone is applied. The milliseconds come from the current time.
    if (record.year < 1601 || record.month < 1 || record.month > 12 || record.day < 1 ||
        record.day > 31 || record.hour > 23 || record.minute > 59 || record.second > 59)
        return 0;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count() % 1000;
    const int64_t seconds = DaysFromCivil(record.year, record.month, record.day) * 86400 +
                            record.hour * 3600 + record.minute * 60 + record.second;
    const int64_t units = (seconds * 1000 + ms) * 10000;
    return uint64_t(int64_t(kFileTimeEpochOffset) + units);
}

void CQMPlayerEx::DrawLocked(int channel, const FrameRecord& record, const uint8_t* picture,
                             uint64_t frameTime) {
    int w = record.width, h = record.height;
    if (const int halvings = m_nPictureHalvings[size_t(channel)]; halvings > 0) {
        // The halved picture holds the rows a full one shows.
        w >>= halvings;
        h = ShownRows(h) >> halvings;
    }
    std::lock_guard draw(m_csDraw);
    const PictureZoom& zoom = m_zoom[size_t(channel)];
    m_renderer.SetSharp(zoom.Sharp());
    m_renderer.DrawChannel(this, channel, w, h, picture, channel == m_nSelCh ? 1 : 0, frameTime,
                           zoom.Source(w, h), m_rcCell[channel], record.info);
    m_nDrawCount.fetch_add(1, std::memory_order_relaxed);
}

int CQMPlayerEx::HalvingsFor(int channel, int width, int height) const {
    std::lock_guard draw(m_csDraw);
    if (m_zoom[size_t(channel)].IsZoomed()) return 0;
    const CellRect& cell = m_rcCell[size_t(channel)];
    if (cell.Width() <= 0 || cell.Height() <= 0) return 0;
    const int rows = DecodeHeight(height);
    int halvings = 0;
    while (halvings < kMostHalvings && (width >> (halvings + 1)) >= cell.Width() &&
           (rows >> (halvings + 1)) >= cell.Height())
        ++halvings;
    return halvings;
}

bool CQMPlayerEx::RestoreFullPicture(int channel) {
    if (m_nPictureHalvings[size_t(channel)] == 0) return true;
    const FrameRecord& shown = m_shown[size_t(channel)];
    if (!m_pSteps || !shown.time) return false;
    FrameRecord record{};
    const int64_t ms = int64_t(shown.time) * 1000 + shown.microseconds / 1000;
    if (!m_pSteps->Picture(channel, ms, record, m_picture[size_t(channel)].Data())) return false;
    m_nPictureHalvings[size_t(channel)] = 0;
    return true;
}

void CQMPlayerEx::bProcessVideoFrame(int channel) {
    const FrameRecord& record = m_lastVideo[channel];
    const uint64_t frameTime = FrameFileTime(record);
    std::lock_guard picture(m_csPicture[channel]);
    PictureBuffer& buffer = m_picture[channel];
    if (!buffer.IsAllocated() && !buffer.Allocate()) return;
    if (!m_bDisplayed[channel] || m_bStepHold) return;
    m_nDecoded[channel].fetch_add(1, std::memory_order_relaxed);
    // A cell at most half the picture's size is drawn from a halved picture:
    // the pictures of a split cost a fraction of the conversion and memory.
    const int halvings = HalvingsFor(channel, record.width, record.height);
    if (DecodeVideoFrameHalved(record, m_decode[channel], buffer.Data(), halvings)) {
        if (halvings > m_nPictureHalvings[size_t(channel)])
            buffer.ClearFrom(size_t(record.width >> halvings) * 4 *
                             size_t(DecodeHeight(record.height) >> halvings));
        m_nPictureHalvings[size_t(channel)] = halvings;
        m_shown[channel] = record;
        m_shown[channel].payload = nullptr;
        DrawLocked(channel, record, buffer.Data(), frameTime);
    } else {
        qmLogAt(6, log_tag::kPlayer,
                "(bProcessVideoFrame) Decode Failed - CH:%d, W/H:%d/%d, Time:%d, Type:%d, Seq:%d",
                channel, record.width, record.height, int(record.time), record.type,
                int(record.sequence));
        qmLog("< Decode Failed >\n");
    }
}

std::optional<FrameRecord> CQMPlayerEx::ShownFrame(int channel) {
    if (channel < 0 || channel >= kMaxChannels) return std::nullopt;
    std::lock_guard picture(m_csPicture[channel]);
    const FrameRecord& record = m_shown[channel];
    if (!record.time || !m_picture[channel].IsAllocated()) return std::nullopt;
    return record;
}

QImage CQMPlayerEx::ShownPicture(int channel) {
    if (channel < 0 || channel >= kMaxChannels) return {};
    std::lock_guard picture(m_csPicture[channel]);
    const FrameRecord& record = m_shown[channel];
    const int w = record.width, h = record.height;
    if (!record.time || w <= 0 || h <= 0 || size_t(w) * size_t(h) * 4 > PictureBuffer::kBytes ||
        !m_picture[channel].IsAllocated())
        return {};
    // A halved picture is never passed off as the recorded one.
    if (!RestoreFullPicture(channel)) return {};
    // The decoded picture is B, G, R, X rows of the recorded width.
    return QImage(m_picture[channel].Data(), w, h, w * 4, QImage::Format_RGB32).copy();
}

PictureZoom CQMPlayerEx::ZoomOf(int channel) const {
    if (channel < 0 || channel >= kMaxChannels) return {};
    std::lock_guard draw(m_csDraw);
    return m_zoom[size_t(channel)];
}

void CQMPlayerEx::SetZoom(int channel, const PictureZoom& zoom) {
    if (channel < 0 || channel >= kMaxChannels) return;
    {
        std::lock_guard draw(m_csDraw);
        m_zoom[size_t(channel)] = zoom;
    }
    RepaintChannel(channel);
}

void CQMPlayerEx::ResetZoom(int channel) {
    {
        std::lock_guard draw(m_csDraw);
        for (int c = 0; c < kMaxChannels; ++c)
            if (channel < 0 || c == channel) m_zoom[size_t(c)].Reset();
    }
    RepaintChannel(channel);
}

void CQMPlayerEx::RepaintChannel(int channel) {
    const int first = channel < 0 ? 0 : channel;
    const int last = channel < 0 ? kMaxChannels - 1 : channel;
    for (int c = first; c <= last && c < kMaxChannels; ++c) {
        if (!m_bDisplayed[c]) continue;
        std::lock_guard picture(m_csPicture[c]);
        if (!m_picture[c].IsAllocated()) continue;
        const FrameRecord& record = m_shown[c];
        // Held play shows a grown or zoomed cell from the full picture; in
        // play the next picture comes at the cell's size soon enough.
        if (m_nPictureHalvings[size_t(c)] > HalvingsFor(c, record.width, record.height) &&
            m_nPlayState == kPlayStatePaused)
            RestoreFullPicture(c);
        const uint64_t time =
            (record.year == 127 && record.month == 127) ? 0 : FrameFileTime(record);
        DrawLocked(c, record, m_picture[c].Data(), time);
    }
}

bool CQMPlayerEx::PlayChannelAudio(int channel) {
    if (channel != m_nSelCh || m_bReverse || m_nSpeed != 1) return false;
    const FrameRecord& record = m_lastAudio[channel];
    const uint32_t size = record.size; // packed field: copied, not bound
    const int length = int(std::min(size, kAudioPayloadCapacity));
    CWaveOutRenderImpl* output = m_pWaveOut.get();
    if (!output || !record.payload || length <= 0) return true;

    const uint32_t type = record.codec;
    switch (type) {
    case kAudioTypeHisiAdpcm: {
        // The decoded size is taken whole: long payloads are not cut at 16 bits.
        const int n = m_audioCtrl.Prepare(kAudioDecoderHisiAdpcm, length);
        if (n <= 0) break;
        std::vector<uint8_t> pcm(size_t(n) * 4);
        if (m_audioCtrl.Decode(pcm.data(), record.payload, length)) {
            output->Write(uint32_t(n), pcm.data());
            m_nSoundBytes.fetch_add(uint64_t(n), std::memory_order_relaxed);
        }
        break;
    }
    case kAudioTypeG711: {
        // 320-byte parts, each given the voice frame header of a G.711 frame.
        const int parts = length / kG711PartBytes;
        std::vector<uint8_t> pcm(1296);
        std::array<uint8_t, kG711PartBytes + 4> frame{0x00, 0x01, 0xA0, 0x00};
        const int m = m_audioCtrl.Prepare(kAudioDecoderHisiG711, int(frame.size()));
        if (m <= 0 || size_t(m) > pcm.size()) break;
        for (int part = 0; part < parts; ++part) {
            std::memcpy(frame.data() + 4, record.payload + part * kG711PartBytes, kG711PartBytes);
            if (!m_audioCtrl.Decode(pcm.data(), frame.data(), int(frame.size()))) continue;
            output->Write(uint32_t(m), pcm.data());
            m_nSoundBytes.fetch_add(uint64_t(m), std::memory_order_relaxed);
        }
        break;
    }
    default:
        qmLog("Not support audio codec type:%d\n", int(type));
        break;
    }
    return true;
}

} // namespace qm
