#pragma once
// When frames are taken: one tick every 1/fps second over the duration, minus
// the gaps. Decides the key frames, which all channels share: every gop ticks,
// after every gap and at every picture size change.

#include "tools/mkrec/recording_plan.h"

#include <cstdint>
#include <optional>

namespace qm::mkrec {

struct ScheduledFrame {
    uint64_t tick = 0; // frame number since the start, gaps included
    uint32_t secondAfterStart = 0;
    uint32_t time = 0; // UTC seconds
    uint16_t milliseconds = 0;
    bool key = false;
    bool afterGap = false; // first frame after a pause in recording
};

class FrameSchedule {
public:
    explicit FrameSchedule(const RecordingPlan& plan);
    std::optional<ScheduledFrame> next();

private:
    bool inGap(uint32_t secondAfterStart) const;
    size_t sizeEpoch(uint32_t secondAfterStart) const;

    const RecordingPlan& m_plan;
    uint64_t m_tick = 0;
    uint64_t m_lastKeyTick = 0;
    bool m_first = true;
    bool m_skipped = false;
    size_t m_epoch = 0;
};

} // namespace qm::mkrec
