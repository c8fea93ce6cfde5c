#pragma once
// Decoding one delivered video frame into a channel's picture buffer: the
// choice of decoder from the record's codec code and the per-channel state.

#include "codec/video_decoder.h"
#include "storage/frame_record.h"

#include <cstdint>
#include <memory>

namespace qm {

// What the player keeps per channel for decoding.
struct VideoDecodeRecord {
    int nWidth = 0; // size of the last decoded picture
    int nHeight = 0;
    uint32_t nLastSeq = 0; // sequence number of the last record handed in
    std::unique_ptr<TVideoDecoderCtrl> pCtrl;
};

// The decoder identifier for a record's codec word (accepted as stored or with
// its bytes reversed); 0 when frames with this code are not decoded.
int CidForCodec(uint32_t codec);

// The height a picture is decoded with: coded 1088-row pictures show 1080.
inline int DecodeHeight(int recordHeight) {
    return recordHeight == 1088 ? 1080 : recordHeight;
}

// Decodes the record's payload into `picture` (kPictureBufferBytes long) in
// the given output type. True when a picture was produced.
bool DecodeVideoFrame(const FrameRecord& record, VideoDecodeRecord& decode, uint8_t* picture,
                      int outputType = kOutputBGR0);
// The same in B, G, R, 0, halved `shift` times: (width >> shift) x
// (decoded height >> shift) pixels. Shift 0 is the full picture.
bool DecodeVideoFrameHalved(const FrameRecord& record, VideoDecodeRecord& decode, uint8_t* picture,
                            int shift);

} // namespace qm
