#pragma once
// Decodes coded pictures with libavcodec so tests can look at what a player
// would show.

#include <cstdint>
#include <memory>
#include <vector>

namespace qm::test {

struct DecodedLuma {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y; // stride = width
};

class StreamDecoder {
public:
    enum class Kind { H264, Mpeg4, Mjpeg };
    explicit StreamDecoder(Kind kind);
    ~StreamDecoder();
    // Feeds one frame's coded bytes; returns the pictures that came out.
    std::vector<DecodedLuma> decode(const std::vector<uint8_t>& packet);
    std::vector<DecodedLuma> flush();

private:
    std::vector<DecodedLuma> drain();
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace qm::test
