#include "app/camera_coverage.h"

#include "storage/parse_index.h"

#include <algorithm>

namespace qm {

namespace {

// The longest a camera's key frames may lie apart and still count as one run.
constexpr uint32_t kLongestKeyInterval = 10;

// A camera's usual key frame interval: the median of the steps between its
// key frames, at least a second.
uint32_t UsualInterval(const std::vector<uint32_t>& times) {
    std::vector<uint32_t> steps;
    for (size_t i = 1; i < times.size(); ++i)
        if (times[i] > times[i - 1]) steps.push_back(times[i] - times[i - 1]);
    if (steps.empty()) return 1;
    std::nth_element(steps.begin(), steps.begin() + long(steps.size() / 2), steps.end());
    return std::clamp<uint32_t>(steps[steps.size() / 2], 1, kLongestKeyInterval);
}

void AddSpan(std::vector<CoverageSpan>& spans, uint32_t first, uint32_t end) {
    if (end <= first) end = first + 1;
    if (!spans.empty() && first <= spans.back().end + kCoverageGapSeconds) {
        spans.back().end = std::max(spans.back().end, end);
        return;
    }
    spans.push_back({first, end});
}

} // namespace

CameraCoverage CoverageOfBlocks(const std::vector<BlockKeys>& blocks) {
    // Each camera's key frame times, block by block, in time order.
    std::array<std::vector<uint32_t>, kMaxChannels> keyTimes;
    for (const BlockKeys& block : blocks)
        for (const auto& [channel, time] : block.keys)
            if (channel < kMaxChannels) keyTimes[channel].push_back(time);
    std::array<uint32_t, kMaxChannels> interval{};
    for (int c = 0; c < kMaxChannels; ++c) {
        std::sort(keyTimes[size_t(c)].begin(), keyTimes[size_t(c)].end());
        interval[size_t(c)] = UsualInterval(keyTimes[size_t(c)]);
    }

    std::vector<const BlockKeys*> ordered;
    for (const BlockKeys& block : blocks)
        if (block.start <= block.end) ordered.push_back(&block);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const BlockKeys* a, const BlockKeys* b) { return a->start < b->start; });

    CameraCoverage coverage;
    std::vector<uint32_t> mine;
    for (const BlockKeys* block : ordered) {
        const uint32_t blockEnd = block->end + 1;
        if (!block->keysKnown) {
            for (int c = 0; c < kMaxChannels; ++c)
                if (block->channelMask >> c & 1u)
                    AddSpan(coverage[size_t(c)], block->start, blockEnd);
            continue;
        }
        for (int c = 0; c < kMaxChannels; ++c) {
            mine.clear();
            for (const auto& [channel, time] : block->keys)
                if (channel == c) mine.push_back(time);
            if (mine.empty()) continue;
            std::sort(mine.begin(), mine.end());
            // Runs of key frames at the camera's pace; each reaches one
            // interval past its last key frame, within the block.
            const uint32_t step = interval[size_t(c)];
            uint32_t runStart = mine.front(), last = mine.front();
            for (size_t i = 1; i <= mine.size(); ++i) {
                if (i < mine.size() && mine[i] <= last + step) {
                    last = mine[i];
                    continue;
                }
                AddSpan(coverage[size_t(c)], runStart,
                        std::min<uint64_t>(uint64_t(last) + step, blockEnd));
                if (i < mine.size()) runStart = last = mine[i];
            }
        }
    }
    return coverage;
}

std::vector<BlockKeys> BlockKeysOf(const CQMParseIndex& reader) {
    std::vector<BlockKeys> blocks;
    const uint8_t order = uint8_t(reader.m_nByteOrder);
    for (int g = 0; g < kMaxGroups; ++g) {
        if (reader.IsDisk()) {
            // A disk's tables are read with its blocks; its table names the cameras.
            for (const MiniHeader& mini : reader.DiskBlockList(g))
                blocks.push_back({mini.startTime,
                                  mini.endTime,
                                  channelMaskOfGroup(mini.channelMask, g),
                                  false,
                                  {}});
            continue;
        }
        for (const BlockEntry& entry : reader.BlockList(g)) {
            if (entry.IsSentinel()) continue;
            BlockKeys block{entry.mini.startTime, entry.mini.endTime, 0, true, {}};
            const ByteView table(entry.iTable.data(), entry.iTable.size());
            for (uint32_t i = 0; i < entry.iCount; ++i) {
                const auto record = iFrameInfoAt(table, i, order);
                if (!record) break;
                if (record->channel >= kMaxChannels) continue;
                block.keys.push_back(
                    {record->channel, entry.mini.startTime + uint32_t(record->timeOffset)});
            }
            blocks.push_back(std::move(block));
        }
    }
    return blocks;
}

} // namespace qm
