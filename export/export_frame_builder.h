#pragma once
// Turns one recorded frame (its header and the bytes after it, as found in a
// block's data area) into an ExportFrame: the video stream without the chip
// prefixes of the recording's codec, a stream header in front of MPEG-4 key
// frames that lack one, and the frame's sound decoded by the coding type in
// its own header. Shared by the export's readers of archive files and disks.

#include "export/export_frame.h"
#include "storage/formats.h"

#include <cstdint>
#include <optional>

namespace qm {

// The AVI writer's video chunk kind for a recording's codec code.
int AviVideoKindForCodec(uint32_t codec);

struct ExportFrameContext {
    uint32_t codec = kCodecH264;
    uint8_t byteOrder = kByteOrderLittle;
    // Null, or false `decodeAudio`: the sound is noted (hasAudio) but not decoded.
    IExportAudioDecoder* audioDecoder = nullptr;
    bool decodeAudio = false;
};

// Fills `frame` and returns its length, or kExportOutOfMemory; nullopt when
// the frame is damaged (its video area does not hold what its header says)
// and must be skipped. `payload` is the bytes after the frame header; it may
// be shorter than the frame claims. The frame may borrow its video from
// `payload` (ExportFrame::Lend), which must then outlive the frame's use.
std::optional<int> BuildExportFrame(const FrameHeader& header, ByteView payload,
                                    const ExportFrameContext& context, ExportFrame& frame);

} // namespace qm
