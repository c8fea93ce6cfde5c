#pragma once
// Video decoders over libavcodec, one per played channel, and the small
// control object that makes the decoder matching the channel's codec and
// picture size. Decoded pictures are converted into the caller's buffer in one
// of the layouts of color_convert.h.

#include "codec/color_convert.h"

#include <cstdint>
#include <memory>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace qm {

// The largest type 3 picture the player's per-channel buffer holds (2048 x 1536 x 4).
constexpr size_t kPictureBufferBytes = 12582912;

// Decoder identifiers of the control.
enum VideoCid : int {
    kCidNone = 1,
    kCidH264 = 5,
    kCidMpeg4 = 6,
    kCidMjpeg = 7,
};

// The last decoded picture. The pointers point into libavcodec's frame and are
// valid until the next decode on the same codec instance.
struct TDecodedPicture {
    uint8_t* pY;
    uint8_t* pU;
    uint8_t* pV;
    int nWidth;
    int nHeight;
    int nYStride;
    int nCStride;
    int nFormat; // AVPixelFormat as libavcodec reports it
    int nReserved;
};

// One libavcodec decoder instance. Opening and closing run under one
// process-wide lock; decoding does not.
class TFFVideoCodec {
public:
    // Returns null when the codec is missing or cannot be opened.
    static std::unique_ptr<TFFVideoCodec> Open(int avCodecId);
    ~TFFVideoCodec();
    TFFVideoCodec(const TFFVideoCodec&) = delete;
    TFFVideoCodec& operator=(const TFFVideoCodec&) = delete;

    // Decodes one packet. True when it produced a picture; then Picture() and
    // Frame() describe it. A packet shorter than 4 bytes fails.
    bool Decode(const uint8_t* data, int size);

    TDecodedPicture* Picture() { return &m_picture; }
    // The last decoded frame in its native format (valid after a successful decode).
    const AVFrame* Frame() const { return m_pFrame; }

private:
    TFFVideoCodec() = default;

    AVCodecContext* m_pContext = nullptr;
    AVFrame* m_pFrame = nullptr;   // the last picture
    AVFrame* m_pReceive = nullptr; // what avcodec_receive_frame fills
    AVPacket* m_pPacket = nullptr;
    std::vector<uint8_t> m_packetBuf; // the packet with libavcodec's zero padding
    TDecodedPicture m_picture{};
};

class TVideoDecoder {
public:
    TVideoDecoder(int width, int height);
    virtual ~TVideoDecoder();

    // Output buffer size: type 1 -> w * h * 3 / 2, type 3 -> w * h * 4, others 0.
    virtual int FrameSize(int width, int height, int type);
    virtual bool Decode(const uint8_t* data, int size, uint8_t* out, int width, int height,
                        int type) = 0;
    virtual bool Convert(uint8_t* out, int width, int height, int type) = 0;

    // Converts the last picture to 32-bit B, G, R, 0 pixels halved `shift`
    // times: (width >> shift) x (height >> shift), rows of that width. Like
    // the full conversion, a smaller picture fills only its own part.
    bool ConvertHalved(uint8_t* out, int width, int height, int shift) {
        return ConvertPicture(out, width, height, kOutputBGR0, shift);
    }

    bool HasCodec() const { return m_pCodec != nullptr; }
    TFFVideoCodec* Codec() const { return m_pCodec.get(); }
    const TDecodedPicture* LastPicture() const { return m_pPicture; }

protected:
    bool DecodePacket(const uint8_t* data, int size, uint8_t* out, int width, int height, int type);
    // Converts the last picture, halved `shift` times; a picture smaller than
    // width x height fills only its own part of the output (rows keep the
    // stride of `width`, halved as well).
    bool ConvertPicture(uint8_t* out, int width, int height, int type, int shift = 0);

    int m_nWidth;
    int m_nHeight;
    std::unique_ptr<TFFVideoCodec> m_pCodec;
    TDecodedPicture* m_pPicture = nullptr;

private:
    // Pictures not in 4:2:0 studio-range layout are first scaled to it.
    // fullRangeOk: the caller reads full-range 4:2:0 itself (type 3 output).
    bool ToYuv420(const TDecodedPicture& pic, YuvPlanes& planes, bool fullRangeOk = false);
    SwsContext* m_pSws = nullptr;
    int m_nSwsWidth = 0, m_nSwsHeight = 0, m_nSwsFormat = -1;
    std::vector<uint8_t> m_scratch;
    std::vector<uint8_t> m_halved;
};

class TVideoDecoder_FFMPEG264 : public TVideoDecoder {
public:
    TVideoDecoder_FFMPEG264(int width, int height);
    bool Decode(const uint8_t* data, int size, uint8_t* out, int width, int height,
                int type) override;
    bool Convert(uint8_t* out, int width, int height, int type) override;

protected:
    TVideoDecoder_FFMPEG264(int width, int height, int avCodecId);
};

class TVideoDecoder_FFMPEGMPEG4 : public TVideoDecoder_FFMPEG264 {
public:
    TVideoDecoder_FFMPEGMPEG4(int width, int height);
    // Until a frame has brought a stream header, a key frame without one gets
    // the header of mpeg4_header.h for this decoder's size put in front;
    // libavcodec keeps it for the frames that follow.
    bool Decode(const uint8_t* data, int size, uint8_t* out, int width, int height,
                int type) override;

private:
    bool m_bStreamHeader = false;
    std::vector<uint8_t> m_headed; // header + key frame
};

class TVideoDecoder_FFMPEGJPEG : public TVideoDecoder {
public:
    TVideoDecoder_FFMPEGJPEG(int width, int height);
    bool Decode(const uint8_t* data, int size, uint8_t* out, int width, int height,
                int type) override;
    // A width or height of 0 takes the decoded picture's own.
    bool Convert(uint8_t* out, int width, int height, int type) override;
};

// Per-channel control: keeps the decoder for the current CID and size.
class TVideoDecoderCtrl {
public:
    TVideoDecoderCtrl() = default;
    virtual ~TVideoDecoderCtrl();
    TVideoDecoderCtrl(const TVideoDecoderCtrl&) = delete;
    TVideoDecoderCtrl& operator=(const TVideoDecoderCtrl&) = delete;

    // Returns the decoder's FrameSize for the type, or 0 when no decoder could be made.
    int Prepare(int width, int height, int cid, int type);
    // False without a decoder, or when the output would not fit the picture buffer.
    bool Decode(int type, const uint8_t* data, int size, uint8_t* out, int width, int height);
    // Decodes into a B, G, R, 0 picture halved `shift` times (see ConvertHalved).
    bool DecodeHalved(const uint8_t* data, int size, uint8_t* out, int width, int height,
                      int shift);

    TVideoDecoder* Decoder() const { return m_pDecoder; }
    int Cid() const { return m_nCid; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

private:
    int m_nWidth = 0;
    int m_nHeight = 0;
    TVideoDecoder* m_pDecoder = nullptr;
    int m_nCid = -1;
};

} // namespace qm
