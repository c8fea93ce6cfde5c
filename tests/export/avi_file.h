#pragma once
// Reads a written AVI back with a RIFF walk of its own, independent of the
// writer: every list and chunk size is checked against the bytes really there.

#include "platform/byte_order.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm::test {

struct AviChunk {
    std::string id;
    uint32_t size = 0;       // the size field
    size_t data = 0;         // file offset of the data
    uint32_t moviOffset = 0; // of the chunk, counted from the "movi" identifier
};

struct AviFile {
    std::vector<uint8_t> bytes;
    std::vector<AviChunk> chunks; // the movi list's, in file order
    struct Entry {
        std::string id;
        uint32_t flags, offset, size;
    };
    std::vector<Entry> index;

    // Header fields at their fixed places (the layout is checked by ReadAvi).
    uint32_t U32(size_t at) const { return loadLE32(bytes.data() + at); }
    uint16_t U16(size_t at) const { return loadLE16(bytes.data() + at); }
    std::string Tag(size_t at) const {
        return std::string(bytes.begin() + at, bytes.begin() + at + 4);
    }
    std::vector<uint8_t> Data(const AviChunk& c) const {
        return {bytes.begin() + long(c.data), bytes.begin() + long(c.data + c.size)};
    }
    std::vector<const AviChunk*> Chunks(const std::string& id) const;
};

// Fixed places in the 326-byte header.
enum AviField : size_t {
    kRiffSize = 4,
    kMicrosPerFrame = 32,
    kMainFlags = 44,
    kTotalFrames = 48,
    kStreams = 56,
    kWidth = 64,
    kHeight = 68,
    kVideoHandler = 112,
    kVideoRate = 132,
    kVideoLength = 140,
    kVideoCompression = 188,
    kAudioScale = 252,
    kAudioRate = 256,
    kAudioLength = 264,
    kAudioSampleSize = 276,
    kWaveFormatSize = 292,
    kWaveFormat = 296, // WAVEFORMATEX: tag, channels, rate, bytes/s, align, bits, extra
    kWaveChannels = 298,
    kWaveRate = 300,
    kWaveBytesPerSecond = 304,
    kWaveBlockAlign = 308,
    kWaveBits = 310,
    kWaveExtra = 312,
    kMoviSize = 318,
};

// nullopt with `error` set when the layout is broken, or when the header does
// not describe what every export writes and what the file holds: the main
// header's flags (an index, chunk types to be trusted) and two streams, the
// sound stream as 16-bit mono PCM at 8000 samples per second, and the frame
// and sample counts of the chunks and index entries really there.
std::optional<AviFile> ReadAvi(const std::string& path, std::string& error);
// The same inside a test: a broken layout fails the test (and gives an empty file).
AviFile ReadAviChecked(const std::string& path);

} // namespace qm::test
