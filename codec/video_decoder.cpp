// Video decoders over libavcodec (send/receive API, low delay, one thread, so
// that every packet yields its own picture) and the per-channel control.

#include "codec/video_decoder.h"

#include "codec/picture_halving.h"

#include "codec/ffmpeg_library.h"
#include "codec/mpeg4_header.h"
#include "platform/diagnostics.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace qm {

namespace {

// libavcodec wants opening and closing of codecs serialized across threads.
std::mutex& CodecLock() {
    static std::mutex lock;
    return lock;
}

// Pictures we are ever asked to scale to 4:2:0; anything larger is refused.
constexpr int64_t kMaxScaledPixels = int64_t(4096) * 4096;

constexpr int Align32(int v) {
    return (v + 31) & ~31;
}

// libavcodec's messages (damaged streams and the like) go to the diagnostics
// sink like every other engine line, not to the user's terminal.
void AvLogToDiagnostics(void* avcl, int level, const char* fmt, va_list args) {
    if (level > AV_LOG_WARNING || !DiagnosticsActive()) return;
    char line[512];
    int prefix = 1;
    Ffmpeg().av_log_format_line2(avcl, level, fmt, args, line, sizeof line, &prefix);
    qmLogAt(5, log_tag::kFfmpeg, "%s", line);
}

void RouteAvLog() {
    static std::once_flag once;
    std::call_once(once, [] { Ffmpeg().av_log_set_callback(AvLogToDiagnostics); });
}

} // namespace

// ---------------------------------------------------------------------------
// TFFVideoCodec

std::unique_ptr<TFFVideoCodec> TFFVideoCodec::Open(int avCodecId) {
    if (!FfmpegLoaded()) return nullptr;
    RouteAvLog();
    const AVCodec* codec = Ffmpeg().avcodec_find_decoder(AVCodecID(avCodecId));
    if (!codec) return nullptr;
    std::unique_ptr<TFFVideoCodec> self(new TFFVideoCodec);
    std::lock_guard<std::mutex> lock(CodecLock());
    AVCodecContext* context = Ffmpeg().avcodec_alloc_context3(codec);
    if (!context) return nullptr;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context->thread_count = 1;
    context->thread_type = 0;
    if (Ffmpeg().avcodec_open2(context, codec, nullptr) < 0) {
        Ffmpeg().avcodec_free_context(&context);
        return nullptr;
    }
    self->m_pContext = context;
    self->m_pFrame = Ffmpeg().av_frame_alloc();
    self->m_pReceive = Ffmpeg().av_frame_alloc();
    self->m_pPacket = Ffmpeg().av_packet_alloc();
    if (!self->m_pFrame || !self->m_pReceive || !self->m_pPacket) {
        // The destructor would take the lock again; release everything here.
        Ffmpeg().av_frame_free(&self->m_pFrame);
        Ffmpeg().av_frame_free(&self->m_pReceive);
        Ffmpeg().av_packet_free(&self->m_pPacket);
        Ffmpeg().avcodec_free_context(&self->m_pContext);
        return nullptr;
    }
    return self;
}

TFFVideoCodec::~TFFVideoCodec() {
    Ffmpeg().av_frame_free(&m_pFrame);
    Ffmpeg().av_frame_free(&m_pReceive);
    Ffmpeg().av_packet_free(&m_pPacket);
    if (m_pContext) {
        std::lock_guard<std::mutex> lock(CodecLock());
        Ffmpeg().avcodec_free_context(&m_pContext);
    }
}

bool TFFVideoCodec::Decode(const uint8_t* data, int size) {
    if (!data || size < 4) return false;
    const size_t padded = size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE;
    if (m_packetBuf.size() < padded) m_packetBuf.resize(padded);
    std::memcpy(m_packetBuf.data(), data, size_t(size));
    std::memset(m_packetBuf.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    m_pPacket->data = m_packetBuf.data();
    m_pPacket->size = size;

    bool got = false;
    auto drain = [&] {
        while (Ffmpeg().avcodec_receive_frame(m_pContext, m_pReceive) >= 0) {
            Ffmpeg().av_frame_unref(m_pFrame);
            Ffmpeg().av_frame_move_ref(m_pFrame, m_pReceive);
            got = true;
        }
    };
    int ret = Ffmpeg().avcodec_send_packet(m_pContext, m_pPacket);
    if (ret == AVERROR(EAGAIN)) {
        drain();
        ret = Ffmpeg().avcodec_send_packet(m_pContext, m_pPacket);
    }
    m_pPacket->data = nullptr;
    m_pPacket->size = 0;
    if (ret < 0 && ret != AVERROR(EAGAIN)) return false;
    drain();
    if (!got || !m_pFrame->data[0] || m_pFrame->width <= 0 || m_pFrame->height <= 0) return false;
    m_picture.pY = m_pFrame->data[0];
    m_picture.pU = m_pFrame->data[1];
    m_picture.pV = m_pFrame->data[2];
    m_picture.nWidth = m_pFrame->width;
    m_picture.nHeight = m_pFrame->height;
    m_picture.nYStride = m_pFrame->linesize[0];
    m_picture.nCStride = m_pFrame->linesize[1];
    m_picture.nFormat = m_pFrame->format;
    m_picture.nReserved = 0;
    return true;
}

// ---------------------------------------------------------------------------
// TVideoDecoder

TVideoDecoder::TVideoDecoder(int width, int height) : m_nWidth(width), m_nHeight(height) {}

TVideoDecoder::~TVideoDecoder() {
    Ffmpeg().sws_freeContext(m_pSws);
}

int TVideoDecoder::FrameSize(int width, int height, int type) {
    const int64_t pixels = int64_t(std::abs(width)) * std::abs(height);
    int64_t bytes = 0;
    switch (type) {
    case kOutputYUY2:
    case kOutputUYVY:
        bytes = pixels * 2; // both packed layouts hold two bytes per pixel
        break;
    case kOutputBGR0:
        bytes = pixels * 4;
        break;
    default:
        return 0;
    }
    return bytes > INT32_MAX ? 0 : int(bytes);
}

bool TVideoDecoder::DecodePacket(const uint8_t* data, int size, uint8_t* out, int width, int height,
                                 int type) {
    if (!m_pCodec) return false;
    const bool got = m_pCodec->Decode(data, size);
    m_pPicture = m_pCodec->Picture();
    if (!got) return false;
    if (out) Convert(out, width, height, type);
    return true;
}

bool TVideoDecoder::ToYuv420(const TDecodedPicture& pic, YuvPlanes& planes, bool fullRangeOk) {
    const AVFrame* frame = m_pCodec ? m_pCodec->Frame() : nullptr;
    bool fullRange = frame && frame->color_range == AVCOL_RANGE_JPEG;
    AVPixelFormat format = AVPixelFormat(pic.nFormat);
    switch (format) { // the JPEG formats are their plain twins at full range
    case AV_PIX_FMT_YUVJ420P:
        format = AV_PIX_FMT_YUV420P;
        fullRange = true;
        break;
    case AV_PIX_FMT_YUVJ422P:
        format = AV_PIX_FMT_YUV422P;
        fullRange = true;
        break;
    case AV_PIX_FMT_YUVJ444P:
        format = AV_PIX_FMT_YUV444P;
        fullRange = true;
        break;
    case AV_PIX_FMT_YUVJ440P:
        format = AV_PIX_FMT_YUV440P;
        fullRange = true;
        break;
    case AV_PIX_FMT_YUVJ411P:
        format = AV_PIX_FMT_YUV411P;
        fullRange = true;
        break;
    default:
        break;
    }
    if (format == AV_PIX_FMT_YUV420P && (!fullRange || fullRangeOk)) {
        planes = {pic.pY, pic.pU, pic.pV, pic.nYStride, pic.nCStride, fullRange};
        return pic.pU && pic.pV;
    }
    // Other layouts (4:2:2, 4:4:4, full-range JPEG, grey) are scaled to 4:2:0
    // studio range first, so the conversion reads what it expects.
    if (!frame || int64_t(pic.nWidth) * pic.nHeight > kMaxScaledPixels) return false;
    if (!Ffmpeg().av_pix_fmt_desc_get(format)) return false;
    const int key = int(format) * 2 + (fullRange ? 1 : 0);
    if (!m_pSws || m_nSwsWidth != pic.nWidth || m_nSwsHeight != pic.nHeight ||
        m_nSwsFormat != key) {
        Ffmpeg().sws_freeContext(m_pSws);
        m_pSws = Ffmpeg().sws_getContext(pic.nWidth, pic.nHeight, format, pic.nWidth, pic.nHeight,
                                         AV_PIX_FMT_YUV420P, SWS_BILINEAR | SWS_ACCURATE_RND,
                                         nullptr, nullptr, nullptr);
        if (!m_pSws) return false;
        const int* bt601 = Ffmpeg().sws_getCoefficients(SWS_CS_ITU601);
        Ffmpeg().sws_setColorspaceDetails(m_pSws, bt601, fullRange ? 1 : 0, bt601, 0, 0, 1 << 16,
                                          1 << 16);
        m_nSwsWidth = pic.nWidth;
        m_nSwsHeight = pic.nHeight;
        m_nSwsFormat = key;
    }
    const int yStride = Align32(pic.nWidth);
    const int cStride = Align32((pic.nWidth + 1) / 2);
    const int cHeight = (pic.nHeight + 1) / 2;
    const size_t lumaBytes = size_t(yStride) * pic.nHeight;
    const size_t chromaBytes = size_t(cStride) * cHeight;
    if (m_scratch.size() < lumaBytes + 2 * chromaBytes)
        m_scratch.resize(lumaBytes + 2 * chromaBytes);
    uint8_t* dst[4] = {m_scratch.data(), m_scratch.data() + lumaBytes,
                       m_scratch.data() + lumaBytes + chromaBytes, nullptr};
    const int dstStride[4] = {yStride, cStride, cStride, 0};
    if (Ffmpeg().sws_scale(m_pSws, frame->data, frame->linesize, 0, pic.nHeight, dst, dstStride) <=
        0)
        return false;
    planes = {dst[0], dst[1], dst[2], yStride, cStride};
    return true;
}

bool TVideoDecoder::ConvertPicture(uint8_t* out, int width, int height, int type, int shift) {
    if (!out) return true;
    const int bpp = OutputBytesPerPixel(type);
    if (bpp == 0 || !m_pPicture || !m_pPicture->pY || width <= 0 || height == 0) return true;
    YuvPlanes planes;
    if (!ToYuv420(*m_pPicture, planes, type == kOutputBGR0)) return true;
    // Never read past the decoded picture: a smaller picture fills the top-left
    // part of the output and leaves the rest as it was.
    int rows = std::abs(height);
    int cw = std::min(width, m_pPicture->nWidth);
    int ch = std::min(rows, m_pPicture->nHeight);
    if (shift > 0) {
        planes = HalvePicture(planes, cw, ch, shift, m_halved);
        width >>= shift;
        rows >>= shift;
        cw = std::min(cw, width);
        ch = std::min(ch, rows);
    }
    const ptrdiff_t stride = ptrdiff_t(width) * bpp;
    if (height > 0) {
        ConvertYuv420(planes, out, cw, ch, type, ConvertImpl::Auto, stride);
    } else {
        ConvertYuv420(planes, out + ptrdiff_t(rows - ch) * stride, cw, -ch, type, ConvertImpl::Auto,
                      stride);
    }
    return true;
}

// ---------------------------------------------------------------------------
// The decoders

TVideoDecoder_FFMPEG264::TVideoDecoder_FFMPEG264(int width, int height)
    : TVideoDecoder_FFMPEG264(width, height, AV_CODEC_ID_H264) {}

TVideoDecoder_FFMPEG264::TVideoDecoder_FFMPEG264(int width, int height, int avCodecId)
    : TVideoDecoder(width, height) {
    m_pCodec = TFFVideoCodec::Open(avCodecId);
}

bool TVideoDecoder_FFMPEG264::Decode(const uint8_t* data, int size, uint8_t* out, int width,
                                     int height, int type) {
    return DecodePacket(data, size, out, width, height, type);
}

bool TVideoDecoder_FFMPEG264::Convert(uint8_t* out, int width, int height, int type) {
    return ConvertPicture(out, width, height, type);
}

TVideoDecoder_FFMPEGMPEG4::TVideoDecoder_FFMPEGMPEG4(int width, int height)
    : TVideoDecoder_FFMPEG264(width, height, AV_CODEC_ID_MPEG4) {}

bool TVideoDecoder_FFMPEGMPEG4::Decode(const uint8_t* data, int size, uint8_t* out, int width,
                                       int height, int type) {
    if (m_bStreamHeader || !data || size <= 0)
        return DecodePacket(data, size, out, width, height, type);
    if (HasMpeg4StreamHeader(data, size_t(size))) {
        const bool ok = DecodePacket(data, size, out, width, height, type);
        m_bStreamHeader = ok;
        return ok;
    }
    if (!IsMpeg4KeyFrame(data, size_t(size)))
        return DecodePacket(data, size, out, width, height, type);
    const auto header = Mpeg4StreamHeader(m_nWidth, m_nHeight);
    m_headed.assign(header.begin(), header.end());
    m_headed.insert(m_headed.end(), data, data + size);
    const bool ok = DecodePacket(m_headed.data(), int(m_headed.size()), out, width, height, type);
    m_bStreamHeader = ok;
    return ok;
}

TVideoDecoder_FFMPEGJPEG::TVideoDecoder_FFMPEGJPEG(int width, int height)
    : TVideoDecoder(width, height) {
    m_pCodec = TFFVideoCodec::Open(AV_CODEC_ID_MJPEG);
}

bool TVideoDecoder_FFMPEGJPEG::Decode(const uint8_t* data, int size, uint8_t* out, int width,
                                      int height, int type) {
    return DecodePacket(data, size, out, width, height, type);
}

bool TVideoDecoder_FFMPEGJPEG::Convert(uint8_t* out, int width, int height, int type) {
    if (m_pPicture && (width == 0 || height == 0)) {
        width = m_pPicture->nWidth;
        height = m_pPicture->nHeight;
    }
    return ConvertPicture(out, width, height, type);
}

// ---------------------------------------------------------------------------
// TVideoDecoderCtrl

TVideoDecoderCtrl::~TVideoDecoderCtrl() {
    delete m_pDecoder;
}

int TVideoDecoderCtrl::Prepare(int width, int height, int cid, int type) {
    if (m_pDecoder && (m_nCid != cid || m_nWidth != width || m_nHeight != height)) {
        qmLog("[9] DeleteVDC - CID:%d, W/H:%d/%d, %x", m_nCid, m_nWidth, m_nHeight,
              unsigned(uintptr_t(m_pDecoder)));
        delete m_pDecoder;
        m_pDecoder = nullptr;
    }
    if (!m_pDecoder) {
        TVideoDecoder* made = nullptr;
        switch (cid) {
        case kCidH264:
            made = new TVideoDecoder_FFMPEG264(width, height);
            break;
        case kCidMpeg4:
            made = new TVideoDecoder_FFMPEGMPEG4(width, height);
            break;
        case kCidMjpeg:
            made = new TVideoDecoder_FFMPEGJPEG(width, height);
            break;
        default: // CID 1 and unknown identifiers make no decoder
            break;
        }
        if (made && !made->HasCodec()) {
            delete made;
            made = nullptr;
        }
        qmLog("[9] CreateVDC - CID:%d, W/H:%d/%d, %x", cid, width, height,
              unsigned(uintptr_t(made)));
        if (!made) return 0;
        m_pDecoder = made;
        m_nCid = cid;
        m_nWidth = width;
        m_nHeight = height;
    }
    return m_pDecoder->FrameSize(width, height, type);
}

bool TVideoDecoderCtrl::Decode(int type, const uint8_t* data, int size, uint8_t* out, int width,
                               int height) {
    if (!m_pDecoder) return false;
    // The output must fit the player's picture buffer, whatever the record claims.
    if (out && (width <= 0 || height == 0 ||
                int64_t(width) * std::abs(int64_t(height)) * OutputBytesPerPixel(type) >
                    int64_t(kPictureBufferBytes)))
        return false;
    return m_pDecoder->Decode(data, size, out, width, height, type);
}

bool TVideoDecoderCtrl::DecodeHalved(const uint8_t* data, int size, uint8_t* out, int width,
                                     int height, int shift) {
    if (shift <= 0) return Decode(kOutputBGR0, data, size, out, width, height);
    if (!m_pDecoder || !out || width <= 0 || height <= 0 ||
        int64_t(width) * height * 4 > int64_t(kPictureBufferBytes))
        return false;
    return m_pDecoder->Decode(data, size, nullptr, width, height, kOutputBGR0) &&
           m_pDecoder->ConvertHalved(out, width, height, shift);
}

} // namespace qm
