#pragma once
// Walks every video frame of an open recording in forward delivery order, as
// the play thread would receive them.

#include "storage/parse_index.h"

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace qmtool {

class FrameWalk {
public:
    explicit FrameWalk(qm::CQMParseIndex& reader);
    using Visit = std::function<bool(const qm::FrameRecord& video, const qm::FrameRecord& audio)>;
    // Calls `visit` for every delivered video frame, with the sound that came
    // with it, until it returns false or the recording ends.
    void Run(const Visit& visit);
    // The same, for callers that need only the pictures.
    void Run(const std::function<bool(const qm::FrameRecord&)>& visit) {
        Run([&](const qm::FrameRecord& video, const qm::FrameRecord&) { return visit(video); });
    }

    // Damaged frames of the channels in `mask` passed over so far: by the
    // reader's preparation and at delivery.
    uint64_t DamagedFrames(uint32_t mask = 0xFFFFFFFFu) const;

private:
    qm::CQMParseIndex& m_reader;
    std::vector<uint8_t> m_video, m_audio, m_extra;
    std::array<uint64_t, qm::kMaxChannels> m_dropped{};
};

} // namespace qmtool
