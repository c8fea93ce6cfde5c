#pragma once
// What mkrec is asked to write: channels, timing, picture sizes, coding and
// container settings, and any damage done to the written file. Filled from the
// command line by parseOptions().

#include "tools/mkrec/source_damage.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qm::mkrec {

constexpr int kMpeg4MaxKeyInterval = 600;

enum class VideoCodec { H264, HISI, SOLO, STCH, STHD, MJPG };

// What the pictures show. Both carry the same frame stamp and caption.
enum class PictureContent {
    Pattern, // smooth ramps and a square: cheap to code, for tests
    Camera,  // textured scene, sensor noise, moving objects: codes like real footage
};

struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};

struct SizeChange {
    uint32_t atSecond = 0; // seconds after the start
    PictureSize size;
};

struct Gap {
    uint32_t fromSecond = 0; // seconds after the start, inclusive
    uint32_t toSecond = 0;   // exclusive
};

struct RecordingPlan {
    std::vector<int> channels; // 0-based, ascending, unique
    uint32_t durationSeconds = 10;
    int fps = 25;
    int gop = 0; // key-frame interval in frames; 0 = fps
    PictureSize defaultSize{352, 240};
    std::map<int, PictureSize> channelSizes; // by 0-based channel
    std::vector<SizeChange> sizeChanges;     // ascending by time
    VideoCodec codec = VideoCodec::H264;
    uint8_t byteOrder = 1; // 1 little-endian, 0 big-endian
    uint32_t blockSize = 2u << 20;
    std::vector<Gap> gaps;
    std::map<int, uint8_t> audio; // 0-based channel -> audio type (2 or 5)
    std::string titleFormat = "CAM %d";
    uint8_t timeZone = 24;  // frame header byte 11: UTC offset / 1800 s + 24
    uint8_t timeOffset = 0; // archive header byte 185
    uint32_t start = 1700000000;
    int quality = 0; // codec quality override; 0 = the codec's default
    PictureContent content = PictureContent::Pattern;
    int bitrateKbps = 0; // camera content coded as H.264; 0 = defaultBitrateKbps(size)
    SourceDamage damage;

    int keyInterval() const;
    bool bigEndian() const { return byteOrder == 0; }
    uint32_t channelMask() const;
    bool twoGroups() const { return (channelMask() >> 16) != 0; }
    PictureSize sizeAt(int channel, uint32_t secondAfterStart) const;
    std::string titleFor(int channel) const;
    // The rate a camera channel of this size is coded at; 0 = constant quality.
    int bitrateKbpsFor(PictureSize size) const;
};

// What the H.264 codecs (all but SOLO and MJPG) code with x264.
bool codedAsH264(VideoCodec codec);

// A recorder's usual rate for a picture size: 1 Mbit/s up to D1 (704 x 576),
// 4 Mbit/s at 1080p, in proportion to the pixels in between and beyond.
int defaultBitrateKbps(PictureSize size);

uint8_t codecByte(VideoCodec codec);
const char* codecName(VideoCodec codec);

} // namespace qm::mkrec
