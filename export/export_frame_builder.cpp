#include "export/export_frame_builder.h"

#include "codec/mpeg4_header.h"
#include "export/avi_writer.h"
#include "platform/diagnostics.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qm {

int AviVideoKindForCodec(uint32_t codec) {
    switch (codec) {
    case kCodecH264:
    case kCodecHISI:
    case kCodecSTCH:
    case kCodecSTHD:
        return kAviVideoH264;
    case kCodecMJPG:
        return kAviVideoMjpeg;
    default:
        return kAviVideoMpeg4;
    }
}

namespace {

void DecodeSound(const FrameArea& area, uint8_t audioType, const ExportFrameContext& context,
                 ExportFrame& frame) {
    if (!context.decodeAudio || !context.audioDecoder) return;
    if (!area.valid || area.bytes.size() == 0) return;
    if (!context.audioDecoder->Decode(audioType, area.bytes, frame.audio)) frame.audio.clear();
}

} // namespace

std::optional<int> BuildExportFrame(const FrameHeader& header, ByteView payload,
                                    const ExportFrameContext& context, ExportFrame& frame) {
    const FrameAreas areas = locateFrameAreas(header, payload, context.byteOrder);
    if (!areas.video.present || !areas.video.valid) return std::nullopt;
    const bool key = header.isKey();
    const auto parts = videoStreamParts(context.codec, key, areas.video.bytes);
    if (!parts) return std::nullopt;

    const size_t streamBytes = parts->totalSize();
    if (streamBytes == 0) return std::nullopt; // nothing a player could show
    // MPEG-4 recorders leave the stream header out of their key frames, and a
    // player cannot start without one. A key frame that brings its own keeps
    // it: a second, different one in front would spoil the picture.
    const ByteView first = parts->parts[0];
    const bool streamHeader =
        key && context.codec == kCodecSOLO && !HasMpeg4StreamHeader(first.data(), first.size());
    const size_t extra = streamHeader ? kMpeg4HeaderBytes : 0;
    // A stream in one piece is lent from the reader's buffer as it is; only
    // one in several pieces (or given a header) is put together in the frame.
    const bool lend = parts->count == 1 && extra == 0;
    try {
        if (!lend && streamBytes + kMpeg4HeaderBytes > frame.video.size()) {
            // Free first: the old contents are not needed and memory may be short.
            std::vector<uint8_t>().swap(frame.video);
            frame.video.resize(streamBytes + kExportVideoMargin);
        }
        frame.audio.clear();
        frame.hasAudio = header.hasAudio();
        frame.audioType = header.audioType();
        if (frame.hasAudio) DecodeSound(areas.audio, frame.audioType, context, frame);
    } catch (const std::bad_alloc&) {
        qmLog("Out of memory. Quit.\n");
        return kExportOutOfMemory;
    }

    frame.width = int(header.width());
    frame.height = int(header.height());
    frame.key = key;
    frame.videoKind = AviVideoKindForCodec(context.codec);
    frame.channel = header.channel;
    frame.seconds = header.time;
    frame.subsecond = uint32_t(header.milliseconds) * 1000u;
    frame.timeZone = header.timeZone;
    frame.correction = header.correction;
    frame.sequence = header.sequence;
    if (lend) {
        frame.Lend(first.data(), uint32_t(streamBytes));
        return int(frame.length);
    }
    frame.Own();
    if (streamHeader) {
        const auto vol = Mpeg4StreamHeader(frame.width, frame.height);
        std::memcpy(frame.video.data(), vol.data(), vol.size());
    }
    parts->copyTo(std::span<uint8_t>(frame.video.data() + extra, frame.video.size() - extra));
    frame.length = uint32_t(streamBytes + extra);
    return int(frame.length);
}

int ExportProgressPercent(uint32_t positionAfterHeader, uint32_t divisor, uint32_t dataLength,
                          uint32_t blockOrdinal, size_t blockCount) {
    if (blockCount == 0) return 0;
    const double reference = divisor ? double(divisor) : double(std::max(dataLength, 1u));
    const double inBlock = std::clamp(positionAfterHeader / reference, 0.0, 1.0);
    const double percent = (inBlock + blockOrdinal) / double(blockCount) * 100.0;
    return int(std::clamp(percent, 0.0, 99.0));
}

} // namespace qm
