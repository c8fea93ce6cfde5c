#pragma once
// Puts a coded picture into the form a DVR chip family stores it in: a fixed
// prefix (HISI, SOLO) or 256-byte chip sections (STCH, STHD).

#include "tools/mkrec/recording_plan.h"

#include <cstdint>
#include <span>
#include <vector>

namespace qm::mkrec {

struct WrapContext {
    uint32_t sequence = 0;
    int width = 0;
    int height = 0;
    bool key = false;
};

std::vector<uint8_t> wrapVideo(VideoCodec codec, std::span<const uint8_t> stream,
                               const WrapContext& context);

// Offsets of the Annex B NAL units in an H.264 packet, each from its start code
// up to the next one.
std::vector<std::span<const uint8_t>> splitAnnexB(std::span<const uint8_t> stream);

} // namespace qm::mkrec
