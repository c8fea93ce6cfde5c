#include "tools/mkrec/frame_schedule.h"

namespace qm::mkrec {

FrameSchedule::FrameSchedule(const RecordingPlan& plan) : m_plan(plan) {}

bool FrameSchedule::inGap(uint32_t s) const {
    for (const Gap& g : m_plan.gaps)
        if (s >= g.fromSecond && s < g.toSecond) return true;
    return false;
}

size_t FrameSchedule::sizeEpoch(uint32_t s) const {
    size_t epoch = 0;
    for (const SizeChange& c : m_plan.sizeChanges)
        if (s >= c.atSecond) ++epoch;
    return epoch;
}

std::optional<ScheduledFrame> FrameSchedule::next() {
    const uint64_t fps = uint64_t(m_plan.fps);
    const uint64_t total = uint64_t(m_plan.durationSeconds) * fps;
    for (; m_tick < total; ++m_tick) {
        ScheduledFrame f;
        f.tick = m_tick;
        f.secondAfterStart = uint32_t(m_tick / fps);
        if (inGap(f.secondAfterStart)) {
            m_skipped = !m_first;
            continue;
        }
        f.time = m_plan.start + f.secondAfterStart;
        f.milliseconds = uint16_t((m_tick % fps) * 1000 / fps);
        f.afterGap = m_skipped;
        const size_t epoch = sizeEpoch(f.secondAfterStart);
        const bool everyFrameKey = m_plan.codec == VideoCodec::MJPG;
        f.key = m_first || m_skipped || epoch != m_epoch || everyFrameKey ||
                m_tick - m_lastKeyTick >= uint64_t(m_plan.keyInterval());
        if (f.key) m_lastKeyTick = m_tick;
        m_first = false;
        m_skipped = false;
        m_epoch = epoch;
        ++m_tick;
        return f;
    }
    return std::nullopt;
}

} // namespace qm::mkrec
