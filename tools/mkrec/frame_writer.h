#pragma once
// One frame as it lies in a block's data area: the 32-byte frame header, the
// video and audio areas and the 32-byte information block with the title.

#include <cstdint>
#include <string>
#include <vector>

namespace qm::mkrec {

struct FrameContent {
    int channel = 0;
    uint32_t time = 0; // UTC seconds
    uint16_t milliseconds = 0;
    uint8_t timeZone = 24;
    bool key = false;
    bool mjpeg = false;
    int width = 0;
    int height = 0;
    uint32_t sequence = 0;
    uint16_t index = 0;
    std::vector<uint8_t> video; // as the chip stores it (prefix or sections included)
    uint8_t audioType = 0;
    std::vector<uint8_t> audio;
    std::string title;
};

struct SerializedFrame {
    std::vector<uint8_t> bytes; // a whole number of 32-byte units
    int channel = 0;
    bool key = false;
    uint32_t time = 0;
};

// Throws std::length_error when the frame exceeds the 16-bit unit count.
SerializedFrame serializeFrame(const FrameContent& frame, bool bigEndian);

} // namespace qm::mkrec
