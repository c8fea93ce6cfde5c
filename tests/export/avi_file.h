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
    kTotalFrames = 48,
    kWidth = 64,
    kHeight = 68,
    kVideoHandler = 112,
    kVideoRate = 132,
    kVideoLength = 140,
    kVideoCompression = 188,
    kAudioRate = 256,
    kAudioLength = 264,
    kWaveFormat = 296,
    kMoviSize = 318,
};

// nullopt with `error` set when the layout is broken.
std::optional<AviFile> ReadAvi(const std::string& path, std::string& error);
// The same inside a test: a broken layout fails the test (and gives an empty file).
AviFile ReadAviChecked(const std::string& path);

} // namespace qm::test
