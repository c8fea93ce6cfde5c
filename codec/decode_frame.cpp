#include "codec/decode_frame.h"

#include "platform/diagnostics.h"
#include "storage/record_layout.h"

namespace qm {

int CidForCodec(uint32_t codec) {
    const uint32_t reversed = __builtin_bswap32(codec);
    for (uint32_t code : {codec, reversed}) {
        switch (code) {
        case kCodecH264:
        case kCodecHISI:
        // Reverse play hands out records with the recording's own code; these
        // chips store H.264 too.
        case kCodecSTCH:
        case kCodecSTHD:
            return kCidH264;
        case kCodecMJPG:
            return kCidMjpeg;
        // MPEG-4 Part 2 chips; their frames may lack the stream header, which
        // the MPEG-4 decoder supplies.
        case kCodecSOLO:
            return kCidMpeg4;
        default:
            break;
        }
    }
    return 0;
}

namespace {

bool Decode(const FrameRecord& record, VideoDecodeRecord& decode, uint8_t* picture, int outputType,
            int shift) {
    if (!decode.pCtrl) decode.pCtrl = std::make_unique<TVideoDecoderCtrl>();
    if (!record.payload || !picture) return false;
    const int cid = CidForCodec(record.codec);
    if (cid == 0) {
        qmLog("Other Codec Type : %d\n", int(record.codec));
        decode.nLastSeq = record.sequence;
        return false;
    }
    const int width = record.width;
    const int height = DecodeHeight(record.height);
    decode.pCtrl->Prepare(width, height, cid, outputType);
    const bool ok = shift > 0 ? decode.pCtrl->DecodeHalved(record.payload, int(record.size),
                                                           picture, width, height, shift)
                              : decode.pCtrl->Decode(outputType, record.payload, int(record.size),
                                                     picture, width, height);
    decode.nLastSeq = record.sequence;
    if (ok) {
        decode.nWidth = width;
        decode.nHeight = height;
    }
    return ok;
}

} // namespace

bool DecodeVideoFrame(const FrameRecord& record, VideoDecodeRecord& decode, uint8_t* picture,
                      int outputType) {
    return Decode(record, decode, picture, outputType, 0);
}

bool DecodeVideoFrameHalved(const FrameRecord& record, VideoDecodeRecord& decode, uint8_t* picture,
                            int shift) {
    return Decode(record, decode, picture, kOutputBGR0, shift);
}

} // namespace qm
