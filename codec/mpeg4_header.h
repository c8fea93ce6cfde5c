#pragma once
// MPEG-4 Part 2 stream headers for "SOLO" recordings. Their frames carry no
// video object layer header, so a new decoder's first key frame gets a fixed
// 30-byte video object + video object layer header for the picture size put
// in front of it (interlaced from 480 rows up, time increment resolution
// 30000, MPEG quantisation), unless the frame brings its own header.

#include <array>
#include <cstddef>
#include <cstdint>

namespace qm {

constexpr size_t kMpeg4HeaderBytes = 30;

// The 30-byte header describing a width x height picture.
std::array<uint8_t, kMpeg4HeaderBytes> Mpeg4StreamHeader(int width, int height);

// True when a visual object sequence (00 00 01 B0), video object
// (00 00 01 00..1F) or video object layer (00 00 01 20..2F) start code comes
// before the frame's first video object plane.
bool HasMpeg4StreamHeader(const uint8_t* data, size_t size);

// True when the frame's first video object plane is intra coded.
bool IsMpeg4KeyFrame(const uint8_t* data, size_t size);

} // namespace qm
