#include "export/media_writer.h"

#include "export/alac_sound.h"
#include "export/avi_writer.h"
#include "export/mux_library.h"
#include "platform/diagnostics.h"
#include "platform/output_files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

namespace qm {

namespace {

constexpr int kIoBufferBytes = 1 << 16;
constexpr int kSoundRate = 8000;
constexpr int64_t kCueMs = 1000;

// A 3GPP timed-text sample description (TS 26.245, 5.16): bottom-centred
// white text in the default font. Players need it before the first cue.
constexpr uint8_t kTimedTextDescription[] = {
    0x00, 0x00, 0x00, 0x00,                         // display flags
    0x01,                                           // horizontal justification: centre
    0xFF,                                           // vertical justification: bottom
    0x00, 0x00, 0x00, 0x00,                         // background colour
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // text box
    0x00, 0x00, 0x00, 0x00,                         // style: first and last character
    0x00, 0x01,                                     // font id
    0x00,                                           // face style
    0x12,                                           // font size
    0xFF, 0xFF, 0xFF, 0xFF,                         // text colour
    0x00, 0x00, 0x00, 0x12, 'f',  't',  'a',  'b',  // font table
    0x00, 0x01,                                     // one entry
    0x00, 0x01, 0x05, 'S',  'e',  'r',  'i',  'f',
};

std::string ErrorText(int code) {
    char text[128] = "unknown error";
    Mux().av_strerror(code, text, sizeof text);
    return text;
}

// "2023-11-14T22:13:20.000000Z"
std::string IsoUtc(int64_t storedMs) {
    const time_t seconds = time_t(storedMs / 1000);
    std::tm parts{};
    if (!::gmtime_r(&seconds, &parts)) return {};
    char text[48];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    std::snprintf(text + n, sizeof text - n, ".%06dZ", int(storedMs % 1000) * 1000);
    return text;
}

// Start code positions of an Annex B stream: each NAL unit begins after one.
size_t NextStartCode(const uint8_t* data, size_t size, size_t from) {
    for (size_t i = from; i + 3 <= size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
    return size;
}

} // namespace

std::optional<ExportFormat> ExportFormatFromName(std::string_view name) {
    std::string lower(name);
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "avi") return ExportFormat::kAvi;
    if (lower == "mp4") return ExportFormat::kMp4;
    if (lower == "mkv") return ExportFormat::kMkv;
    return std::nullopt;
}

const char* ExportFormatExtension(ExportFormat format) {
    switch (format) {
    case ExportFormat::kAvi:
        return "avi";
    case ExportFormat::kMp4:
        return "mp4";
    case ExportFormat::kMkv:
        return "mkv";
    }
    return "avi";
}

std::vector<uint8_t> VideoExtradata(int videoKind, const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    if (videoKind == kAviVideoH264) {
        // The sequence and picture parameter sets, each behind a 4-byte start code.
        for (size_t at = NextStartCode(data, size, 0); at < size;) {
            const size_t begin = at + 3;
            const size_t next = NextStartCode(data, size, begin);
            size_t end = next;
            while (end > begin && data[end - 1] == 0)
                --end; // zeros before the next start code belong to it
            const int type = begin < size ? data[begin] & 0x1F : 0;
            if ((type == 7 || type == 8) && end > begin) {
                out.insert(out.end(), {0, 0, 0, 1});
                out.insert(out.end(), data + begin, data + end);
            }
            at = next;
        }
    } else if (videoKind == kAviVideoMpeg4) {
        // Everything before the first picture (VOP start code 00 00 01 B6).
        for (size_t at = NextStartCode(data, size, 0); at < size;
             at = NextStartCode(data, size, at + 3)) {
            if (at + 3 < size && data[at + 3] == 0xB6) {
                out.assign(data, data + at);
                break;
            }
        }
    }
    return out;
}

TMediaWriter::TMediaWriter(OutputFiles& outputs, MediaWriterSettings settings)
    : m_outputs(outputs), m_settings(settings) {}

TMediaWriter::~TMediaWriter() {
    Release();
}

bool TMediaWriter::Fail(const std::string& error) {
    if (m_strError.empty()) m_strError = error;
    qmLogAt(5, log_tag::kSaveAviJob, "(Mux) %s\n", m_strError.c_str());
    return false;
}

void TMediaWriter::Release() {
    if (m_pContext) {
        Mux().avformat_free_context(m_pContext);
        m_pContext = nullptr;
    }
    if (m_pIo) {
        Mux().av_free(m_pIo->buffer);
        Mux().avio_context_free(&m_pIo);
    }
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_pVideo = m_pSound = m_pClock = nullptr;
    m_pAlac.reset();
}

int TMediaWriter::WriteBytes(void* opaque, uint8_t* data, int size) {
    auto* self = static_cast<TMediaWriter*>(opaque);
    if (size < 0 || std::fwrite(data, 1, size_t(size), self->m_file) != size_t(size)) {
        self->m_bWriteFailed = true;
        return AVERROR(EIO);
    }
    return size;
}

int64_t TMediaWriter::SeekBytes(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<TMediaWriter*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        if (std::fflush(self->m_file) != 0 || ::fstat(::fileno(self->m_file), &st) != 0) return -1;
        return int64_t(st.st_size);
    }
    if (::fseeko(self->m_file, off_t(offset), whence & ~AVSEEK_FORCE) != 0) return -1;
    return int64_t(::ftello(self->m_file));
}

bool TMediaWriter::Open(const ExportFrame& first, const std::string& path) {
    if (!MuxLibraryLoaded()) return Fail("libavformat cannot be loaded");
    const MuxLibrary& mux = Mux();
    const bool mp4 = m_settings.format == ExportFormat::kMp4;
    m_path = path;
    std::string error;
    m_file = m_outputs.Create(path, error);
    if (!m_file) return Fail(error.empty() ? path + ": cannot be created" : error);

    int r =
        mux.avformat_alloc_output_context2(&m_pContext, nullptr, mp4 ? "mp4" : "matroska", nullptr);
    if (r < 0 || !m_pContext) return Fail("no muxer: " + ErrorText(r));
    auto* buffer = static_cast<unsigned char*>(mux.av_malloc(kIoBufferBytes));
    if (!buffer) return Fail("out of memory");
    m_pIo =
        mux.avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr, &WriteBytes, &SeekBytes);
    if (!m_pIo) {
        mux.av_free(buffer);
        return Fail("out of memory");
    }
    m_pContext->pb = m_pIo;
    // The same pictures give the same file, byte for byte: no random
    // identifiers, no library version, so exports can be compared and hashed.
    m_pContext->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_BITEXACT;

    m_llFirstMs = ToStoredMs(first.seconds, first.subsecond / 1000);
    mux.av_dict_set(&m_pContext->metadata, "creation_time", IsoUtc(m_llFirstMs).c_str(), 0);

    auto setExtradata = [&](AVCodecParameters* par, const uint8_t* data, size_t size) {
        if (size == 0) return true;
        par->extradata = static_cast<uint8_t*>(mux.av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata) return false;
        std::memcpy(par->extradata, data, size);
        par->extradata_size = int(size);
        return true;
    };

    m_pVideo = mux.avformat_new_stream(m_pContext, nullptr);
    if (!m_pVideo) return Fail("out of memory");
    AVCodecParameters* video = m_pVideo->codecpar;
    video->codec_type = AVMEDIA_TYPE_VIDEO;
    video->codec_id = first.videoKind == kAviVideoH264    ? AV_CODEC_ID_H264
                      : first.videoKind == kAviVideoMjpeg ? AV_CODEC_ID_MJPEG
                                                          : AV_CODEC_ID_MPEG4;
    video->width = first.width;
    video->height = first.height;
    m_pVideo->time_base = AVRational{1, 1000};
    const ByteView picture = first.Video();
    const auto extradata = VideoExtradata(first.videoKind, picture.data(), picture.size());
    if (!setExtradata(video, extradata.data(), extradata.size())) return Fail("out of memory");

    if (m_settings.withAudio && first.hasAudio) {
        m_pSound = mux.avformat_new_stream(m_pContext, nullptr);
        if (!m_pSound) return Fail("out of memory");
        if (mp4) {
            // MP4 takes no PCM: the samples are kept losslessly as ALAC.
            m_pAlac = std::make_unique<TAlacSound>();
            if (!m_pAlac->Open(kSoundRate, m_pSound->codecpar))
                return Fail(path + ": sound: " + m_pAlac->Error());
            m_pSound->time_base = AVRational{1, kSoundRate};
        } else {
            AVCodecParameters* sound = m_pSound->codecpar;
            sound->codec_type = AVMEDIA_TYPE_AUDIO;
            sound->codec_id = AV_CODEC_ID_PCM_S16LE;
            sound->sample_rate = kSoundRate;
            sound->ch_layout.order = AV_CHANNEL_ORDER_NATIVE;
            sound->ch_layout.nb_channels = 1;
            sound->ch_layout.u.mask = AV_CH_LAYOUT_MONO;
            sound->bits_per_coded_sample = 16;
            sound->block_align = 2;
            m_pSound->time_base = AVRational{1, 1000};
        }
    }

    m_pClock = mux.avformat_new_stream(m_pContext, nullptr);
    if (!m_pClock) return Fail("out of memory");
    m_pClock->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
    m_pClock->codecpar->codec_id = mp4 ? AV_CODEC_ID_MOV_TEXT : AV_CODEC_ID_SUBRIP;
    m_pClock->time_base = AVRational{1, 1000};
    if (mp4 &&
        !setExtradata(m_pClock->codecpar, kTimedTextDescription, sizeof kTimedTextDescription))
        return Fail("out of memory");
    mux.av_dict_set(&m_pClock->metadata, "title", "Recorder clock", 0);

    r = mux.avformat_write_header(m_pContext, nullptr);
    if (r < 0) return Fail(path + ": " + ErrorText(r));
    return true;
}

bool TMediaWriter::Send(AVPacket* packet, const char* what) {
    const int r = Mux().av_interleaved_write_frame(m_pContext, packet);
    if (r >= 0) return true;
    if (m_bWriteFailed) return Fail(m_path + ": " + std::strerror(errno ? errno : EIO));
    return Fail(m_path + ": cannot write " + what + ": " + ErrorText(r));
}

bool TMediaWriter::FlushHeldPicture(std::optional<int64_t> nextPts) {
    if (m_llHeldPts < 0) return true;
    const MuxLibrary& mux = Mux();
    if (nextPts) m_llLastDuration = *nextPts - m_llHeldPts;
    AVPacket* packet = mux.av_packet_alloc();
    if (!packet) return Fail("out of memory");
    const AVRational ms{1, 1000};
    packet->data = m_held.data();
    packet->size = int(m_held.size());
    packet->stream_index = m_pVideo->index;
    packet->pts = packet->dts = mux.av_rescale_q(m_llHeldPts, ms, m_pVideo->time_base);
    packet->duration = mux.av_rescale_q(m_llLastDuration, ms, m_pVideo->time_base);
    if (m_bHeldKey) packet->flags |= AV_PKT_FLAG_KEY;
    const bool ok = Send(packet, "a picture");
    mux.av_packet_free(&packet);
    m_llHeldPts = -1;
    return ok;
}

bool TMediaWriter::WriteSound(const ExportFrame& frame, int64_t pts) {
    if (!m_pSound || frame.audio.size() < 2) return true;
    const MuxLibrary& mux = Mux();
    const size_t samples = frame.audio.size() / 2;
    if (m_pAlac) {
        std::vector<int16_t> pcm(samples);
        for (size_t i = 0; i < samples; ++i)
            pcm[i] = int16_t(uint16_t(frame.audio[2 * i] | (frame.audio[2 * i + 1] << 8)));
        if (!m_pAlac->Add(pts, pcm.data(), pcm.size(), [this](AVPacket* p) { return SendAlac(p); }))
            return m_strError.empty() ? Fail(m_path + ": sound: " + m_pAlac->Error()) : false;
        return true;
    }
    AVPacket* packet = mux.av_packet_alloc();
    if (!packet) return Fail("out of memory");
    const AVRational ms{1, 1000};
    packet->data = const_cast<uint8_t*>(frame.audio.data());
    packet->size = int(samples * 2);
    packet->stream_index = m_pSound->index;
    packet->pts = packet->dts = mux.av_rescale_q(pts, ms, m_pSound->time_base);
    packet->duration =
        mux.av_rescale_q(int64_t(samples), AVRational{1, kSoundRate}, m_pSound->time_base);
    packet->flags |= AV_PKT_FLAG_KEY;
    const bool ok = Send(packet, "sound");
    mux.av_packet_free(&packet);
    return ok;
}

bool TMediaWriter::SendAlac(AVPacket* packet) {
    const MuxLibrary& mux = Mux();
    const AVRational rate{1, kSoundRate};
    packet->stream_index = m_pSound->index;
    packet->pts = mux.av_rescale_q(packet->pts, rate, m_pSound->time_base);
    packet->dts = mux.av_rescale_q(packet->dts, rate, m_pSound->time_base);
    packet->duration = mux.av_rescale_q(packet->duration, rate, m_pSound->time_base);
    return Send(packet, "sound");
}

bool TMediaWriter::WriteClock(int64_t recordedMs) {
    const int64_t second = recordedMs / 1000;
    // One cue per recorded second that has pictures; a clock that went back
    // repeats no second already shown.
    if (second <= m_llLastCueSecond) return true;
    m_llLastCueSecond = second;
    const int64_t start = std::max<int64_t>(second * 1000 - m_llFirstMs, 0);
    const int64_t end = second * 1000 + kCueMs - m_llFirstMs;
    if (end <= start) return true;
    const std::string clock = FormatClock(m_settings.clock, second * 1000, false);
    std::vector<uint8_t> text;
    if (m_settings.format == ExportFormat::kMp4) {
        // A timed-text sample: the text's length, then the text.
        text.push_back(uint8_t(clock.size() >> 8));
        text.push_back(uint8_t(clock.size()));
    }
    text.insert(text.end(), clock.begin(), clock.end());

    const MuxLibrary& mux = Mux();
    AVPacket* packet = mux.av_packet_alloc();
    if (!packet) return Fail("out of memory");
    const AVRational ms{1, 1000};
    packet->data = text.data();
    packet->size = int(text.size());
    packet->stream_index = m_pClock->index;
    packet->pts = packet->dts = mux.av_rescale_q(start, ms, m_pClock->time_base);
    packet->duration = mux.av_rescale_q(end - start, ms, m_pClock->time_base);
    packet->flags |= AV_PKT_FLAG_KEY;
    const bool ok = Send(packet, "the clock");
    mux.av_packet_free(&packet);
    return ok;
}

bool TMediaWriter::Write(const ExportFrame& frame, const std::string& path) {
    if (!m_strError.empty()) return false;
    if (!m_pContext) {
        if (!frame.key) return true;
        if (!Open(frame, path)) return false;
    }
    const int64_t recorded = ToStoredMs(frame.seconds, frame.subsecond / 1000);
    // A picture stamped no later than the one before keeps its place in the
    // order, a millisecond after it: the containers need rising times.
    int64_t pts = recorded - m_llFirstMs;
    if (pts <= m_llLastPts) pts = m_llLastPts + 1;
    if (!FlushHeldPicture(pts)) return false;
    if (!WriteClock(recorded)) return false;
    try {
        const ByteView picture = frame.Video();
        m_held.assign(picture.data(), picture.data() + picture.size());
    } catch (const std::bad_alloc&) {
        return Fail("out of memory");
    }
    m_llHeldPts = pts;
    m_bHeldKey = frame.key;
    m_llLastPts = pts;
    if (!WriteSound(frame, pts)) return false;
    m_llLastMs = recorded;
    ++m_nPictures;
    if (m_settings.hooks && m_settings.hooks->onPicture)
        m_settings.hooks->onPicture(m_settings.channel, frame);
    return true;
}

bool TMediaWriter::Close() {
    if (!m_pContext) return m_strError.empty();
    bool ok = m_strError.empty() && FlushHeldPicture(std::nullopt);
    if (ok && m_pAlac && !m_pAlac->Finish([this](AVPacket* p) { return SendAlac(p); }) &&
        m_strError.empty())
        ok = Fail(m_path + ": sound: " + m_pAlac->Error());
    ok = ok && m_strError.empty();
    if (ok) {
        const int r = Mux().av_write_trailer(m_pContext);
        if (r < 0) ok = Fail(m_path + ": " + ErrorText(r));
    }
    if (m_pIo) Mux().avio_flush(m_pIo);
    if (m_bWriteFailed) ok = Fail(m_path + ": cannot be written");
    FILE* file = m_file;
    m_file = nullptr;
    if (file && std::fclose(file) != 0) ok = Fail(m_path + ": " + std::strerror(errno));
    Release();
    if (ok && m_settings.hooks && m_settings.hooks->onOutputDone)
        m_settings.hooks->onOutputDone(
            ExportOutputDone{m_settings.channel, m_path, m_nPictures, m_llFirstMs, m_llLastMs});
    return ok;
}

} // namespace qm
