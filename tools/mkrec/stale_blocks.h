#pragma once
// Blocks a disk still holds from before its recorder was reset: whole, valid
// blocks of an earlier recording made with the same settings, ended before the
// recording's first frame.

#include "tools/mkrec/block_builder.h"
#include "tools/mkrec/recording_plan.h"

#include <cstdint>
#include <vector>

namespace qm::mkrec {

// The earlier recording ends this long before the plan's start.
constexpr uint32_t kStaleRecordingPause = 600;

// Generates an earlier recording of `plan` and returns the first `count`
// blocks it produced. `recordingBlocks`, the number of blocks the plan
// itself made, sizes the earlier recording so that it is seldom made twice.
// Throws std::runtime_error when the earlier recording would start before the
// oldest time a disk accepts.
std::vector<Block> generateStaleBlocks(const RecordingPlan& plan, size_t recordingBlocks,
                                       uint32_t count);

} // namespace qm::mkrec
