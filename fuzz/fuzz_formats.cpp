// The fixed records of a recording, parsed straight from the input: the
// archive header, mini headers, block headers, both frame tables, frame
// headers with their payload areas and the chip wrappings of the video.
// The first byte is a selector: its lowest bit the byte order (1 little-endian,
// 0 big-endian), the rest the block number the block geometry is worked out
// for. The records are read from the bytes after it: a recording's first
// block there gives its frames one after another, its last 512 bytes the
// archive header, a block's last 512 bytes its header. The same bytes are
// also taken as a block's tables and data area for the scan of a block whose
// tables are damaged.

#include "fuzz/fuzz_input.h"
#include "storage/formats.h"
#include "storage/frame_scan.h"

#include <cstdint>
#include <cstring>

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t byteOrder = data[0] & 1;
    ByteView all(data + 1, size - 1);

    // Records recognised, for the replay of well-formed seeds.
    size_t recognised = 0;
    if (checkArchiveMagic(all)) ++recognised;
    if (auto header = parseArchiveHeader(all)) {
        (void)header->groups();
        (void)header->timeOffsetSeconds();
    }
    if (auto info = parseDiskInfo(all)) {
        (void)info->groups();
        if (isDiskMagic(info->magic)) ++recognised;
    }
    if (auto mini = parseMiniHeader(all, byteOrder)) (void)mini->usableOnDisk();

    if (auto block = parseBlockHeader(all, byteOrder)) {
        if (block->hasMarker()) ++recognised;
        // The tables as the header sizes them, cut from what follows it.
        auto geometry = blockGeometry(data[0] >> 1, 4096, block->iSectors, block->pSectors);
        (void)geometry;
        for (uint32_t i = 0; i < block->iFrameCount && i < 4096; ++i)
            if (auto rec = iFrameInfoAt(all, i, byteOrder)) {
                (void)frameOffsetInData(rec->offsetUnits, all.size());
            } else {
                break;
            }
        for (uint32_t i = 0; i < block->pFrameCount && i < 4096; ++i)
            if (auto rec = pFrameInfoAt(all, i, byteOrder)) {
                (void)frameOffsetInData(rec->offsetUnits, all.size());
            } else {
                break;
            }
        // The same bytes as a block's tables and its data area: a damaged
        // block's scan must keep every frame it finds inside the area.
        const FrameTables tables{all, block->iFrameCount, all, block->pFrameCount};
        const int group = data[0] >> 1 & 1;
        (void)frameTablesDamaged(tables, *block, group, all, byteOrder);
        const ScannedFrames found = scanFrames(all, *block, group, byteOrder);
        const auto inside = [&](uint32_t at) {
            const auto frame = all.sub(at, kFrameHeaderSize);
            if (!frame || at % kUnitSize != 0) __builtin_trap();
            const auto h = parseFrameHeader(*frame, byteOrder);
            if (!frameFitsBlock(*h, at, all.size(), *block, group)) __builtin_trap();
        };
        for (int c = 0; c < kMaxChannels; ++c) {
            for (const ScannedKeyFrame& k : found.key[c])
                inside(k.offset);
            for (uint32_t at : found.other[c])
                inside(at);
        }
    }

    // Frame headers one after another, as the preparation thread walks a block.
    size_t offset = 0;
    for (int frames = 0; frames < 64 && offset < all.size(); ++frames) {
        auto view = all.sub(offset, all.size() - offset);
        if (!view) break;
        auto header = parseFrameHeader(*view, byteOrder);
        if (!header || !header->hasMarker()) break;
        (void)header->width();
        (void)header->height();
        (void)header->localTime();
        auto payload = view->sub(kFrameHeaderSize, view->size() - kFrameHeaderSize);
        if (!payload) break;
        FrameAreas areas = locateFrameAreas(*header, *payload, byteOrder);
        if (areas.video.valid && areas.video.present) {
            ++recognised;
            static const uint32_t codecs[] = {kCodecH264, kCodecHISI, kCodecSOLO,
                                              kCodecSTCH, kCodecSTHD, kCodecMJPG};
            for (uint32_t codec : codecs) {
                if (auto parts = videoStreamParts(codec, header->isKey(), areas.video.bytes)) {
                    std::vector<uint8_t> out;
                    parts->appendTo(out);
                    if (out.size() != parts->totalSize()) __builtin_trap();
                    std::vector<uint8_t> copy(out.size());
                    if (!parts->copyTo(copy) || copy != out) __builtin_trap();
                }
            }
        }
        if (header->frameBytes() == 0) break;
        offset += header->frameBytes();
    }
    fuzz::NoteDelivered(recognised);
    return 0;
}
