#include "tools/mkrec/stale_blocks.h"

#include "tools/mkrec/recording_generator.h"

#include "storage/record_layout.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace qm::mkrec {
namespace {

constexpr uint32_t kLongestStaleRecording = 86400 * 7;

// Keeps the first blocks it is given and counts the rest.
class FirstBlocks : public BlockSink {
public:
    explicit FirstBlocks(size_t wanted) : m_wanted(wanted) {}
    void putBlock(Block&& block) override {
        if (m_kept.size() < m_wanted) m_kept.push_back(std::move(block));
    }
    bool enough() const { return m_kept.size() == m_wanted; }
    std::vector<Block>& kept() { return m_kept; }

private:
    size_t m_wanted;
    std::vector<Block> m_kept;
};

} // namespace

std::vector<Block> generateStaleBlocks(const RecordingPlan& plan, size_t recordingBlocks,
                                       uint32_t count) {
    if (count == 0) return {};
    RecordingPlan earlier = plan;
    earlier.gaps.clear(); // the earlier recording ran without pauses
    earlier.damage = {};
    // As long as the plan's own recording took for as many blocks, and a second
    // more; twice that when it was not enough.
    const uint64_t perBlock = recordingBlocks ? recordingBlocks : 1;
    uint64_t seconds = (uint64_t(count) * plan.durationSeconds + perBlock - 1) / perBlock + 1;
    for (;; seconds *= 2) {
        if (seconds > kLongestStaleRecording)
            throw std::runtime_error("--stale-blocks " + std::to_string(count) +
                                     " needs an earlier recording longer than a week");
        const uint64_t before = seconds + kStaleRecordingPause;
        if (plan.start <= kDiskMinStartTime + before)
            throw std::runtime_error("--stale-blocks needs a --start after " +
                                     std::to_string(kDiskMinStartTime + before) +
                                     " so that the earlier recording's times are valid");
        earlier.durationSeconds = uint32_t(seconds);
        earlier.start = uint32_t(plan.start - before);
        FirstBlocks first(count);
        generateBlocks(earlier, first);
        if (first.enough()) return std::move(first.kept());
    }
}

} // namespace qm::mkrec
