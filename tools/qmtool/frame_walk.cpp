#include "tools/qmtool/frame_walk.h"

namespace qmtool {

FrameWalk::FrameWalk(qm::CQMParseIndex& reader)
    : m_reader(reader), m_video(qm::kVideoPayloadCapacity), m_audio(qm::kAudioPayloadCapacity),
      m_extra(qm::kExtraPayloadCapacity) {}

void FrameWalk::Run(const Visit& visit) {
    qm::FrameRecord video{}, audio{}, extra{};
    video.payload = m_video.data();
    audio.payload = m_audio.data();
    extra.payload = m_extra.data();
    for (;;) {
        // Every channel fills its slot first so the order is the true merge order.
        // A disk may take its full read time limit over a bad block.
        m_reader.WaitForPreparedSlots(m_reader.IsDisk() ? qm::kDiskPrefetchReadTimeoutMs + 2000
                                                        : 1500);
        bool any = false;
        for (int c = 0; c < qm::kMaxChannels && !any; ++c)
            any = m_reader.FrameStateOf(c) == qm::kSlotReady;
        if (!any) return;
        const int got = m_reader.GetNextFrame(&video, 0, &audio, 1, &extra, 1);
        m_reader.PrepareHere();
        if (got != 1) {
            // A damaged frame was dropped; the record still names its channel.
            if (video.channel < qm::kMaxChannels) ++m_dropped[video.channel];
            continue;
        }
        if (!visit(video, audio)) return;
    }
}

uint64_t FrameWalk::DamagedFrames(uint32_t mask) const {
    uint64_t n = m_reader.DamagedFramesSkipped(mask);
    for (int c = 0; c < qm::kMaxChannels; ++c)
        if (mask & (1u << c)) n += m_dropped[c];
    return n;
}

} // namespace qmtool
