#pragma once
// A small archive reader of the tests' own, written from the record layout and
// independent of the generator's code, so that a shared mistake cannot hide.
// It records every inconsistency it meets instead of stopping.

#include <cstdint>
#include <string>
#include <vector>

namespace qm::test {

struct WalkedFrame {
    int channel = 0;
    bool key = false;
    bool mjpegFlag = false;
    uint32_t time = 0;
    uint16_t milliseconds = 0;
    uint8_t timeZone = 0;
    uint32_t sequence = 0;
    uint16_t index = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> video; // the V bytes of the video area, chip wrapping included
    uint8_t audioType = 0;
    std::vector<uint8_t> audio;
    std::string title;
    size_t block = 0;
};

struct WalkedBlock {
    int group = 0;
    uint8_t miniType = 0;
    uint32_t miniStart = 0, miniEnd = 0;
    uint32_t headerStart = 0, headerEnd = 0;
    uint16_t channelMask = 0;
    uint32_t keyCount = 0, otherCount = 0;
    uint32_t dataUsed = 0;
    size_t frameCount = 0;
};

struct WalkedArchive {
    std::vector<std::string> errors;
    bool bigEndian = false;
    uint8_t byteOrder = 0;
    uint8_t codecByte = 0;
    uint32_t channelMask = 0;
    uint32_t blockSize = 0;
    uint32_t start = 0, end = 0;
    uint8_t timeOffset = 0;
    std::vector<WalkedBlock> blocks;
    std::vector<WalkedFrame> frames; // in file order
};

WalkedArchive walkArchive(const std::vector<uint8_t>& file);
std::vector<uint8_t> readFile(const std::string& path);

// The coded stream inside a frame's video bytes, chip wrapping removed.
std::vector<uint8_t> unwrapVideo(uint8_t codecByte, const WalkedFrame& frame);

} // namespace qm::test
