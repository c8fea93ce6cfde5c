#include "tools/mkrec/recording_generator.h"

#include "tools/mkrec/archive_writer.h"
#include "tools/mkrec/channel_stream.h"
#include "tools/mkrec/file_damage.h"
#include "tools/mkrec/frame_schedule.h"
#include "tools/mkrec/stale_blocks.h"

#include "storage/record_layout.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace qm::mkrec {
namespace {

// Frames are produced a stretch at a time: long enough to keep every core busy,
// short enough to bound memory. A stretch ends before a key frame so that a key
// frame and its followers reach a block builder together.
struct Stretch {
    std::vector<ScheduledFrame> ticks;
};

bool nextStretch(FrameSchedule& schedule, std::optional<ScheduledFrame>& lookahead, int fps,
                 Stretch& out) {
    out.ticks.clear();
    const size_t wanted = size_t(std::max(fps, 1)) * 2;
    while (lookahead) {
        if (lookahead->key && out.ticks.size() >= wanted) break;
        if (out.ticks.size() >= wanted * 8) break;
        out.ticks.push_back(*lookahead);
        lookahead = schedule.next();
    }
    return !out.ticks.empty();
}

void produceInParallel(std::vector<std::unique_ptr<ChannelStream>>& streams, const Stretch& s,
                       std::vector<std::vector<SerializedFrame>>& results) {
    results.assign(streams.size(), {});
    std::atomic<size_t> nextChannel{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto work = [&] {
        for (size_t i; (i = nextChannel++) < streams.size();) {
            try {
                results[i].reserve(s.ticks.size());
                for (const ScheduledFrame& t : s.ticks)
                    results[i].push_back(streams[i]->produce(t));
            } catch (...) {
                std::lock_guard lock(failureLock);
                if (!failure) failure = std::current_exception();
            }
        }
    };
    const size_t workers =
        std::min<size_t>(streams.size(), std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::thread> threads;
    for (size_t w = 1; w < workers; ++w)
        threads.emplace_back(work);
    work();
    for (auto& t : threads)
        t.join();
    if (failure) std::rethrow_exception(failure);
}

void checkDamageFits(const RecordingPlan& plan, bool diskImage) {
    std::string error;
    if (!damageFitsOutput(plan.damage, diskImage, error)) throw std::invalid_argument(error);
}

} // namespace

void generateBlocks(const RecordingPlan& plan, BlockSink& sink) {
    std::vector<std::unique_ptr<ChannelStream>> streams;
    for (int c : plan.channels)
        streams.push_back(std::make_unique<ChannelStream>(plan, c));
    const int groups = plan.twoGroups() ? 2 : 1;
    std::vector<BlockBuilder> builders;
    for (int g = 0; g < groups; ++g)
        builders.emplace_back(plan.blockSize, plan.bigEndian(), g, sink);

    FrameSchedule schedule(plan);
    std::optional<ScheduledFrame> lookahead = schedule.next();
    Stretch stretch;
    std::vector<std::vector<SerializedFrame>> produced;
    std::vector<SerializedFrame> run;
    while (nextStretch(schedule, lookahead, plan.fps, stretch)) {
        produceInParallel(streams, stretch, produced);
        for (int g = 0; g < groups; ++g) {
            auto flushRun = [&] {
                if (!run.empty()) builders[g].addRun(run);
                run.clear();
            };
            for (size_t t = 0; t < stretch.ticks.size(); ++t) {
                const ScheduledFrame& tick = stretch.ticks[t];
                if (tick.key) flushRun();
                // A pause in recording closes the block: the next one starts
                // when recording resumes.
                if (tick.afterGap) builders[g].flush();
                for (size_t i = 0; i < streams.size(); ++i)
                    if (streams[i]->channel() / 16 == g) run.push_back(std::move(produced[i][t]));
            }
            flushRun();
        }
    }
    for (BlockBuilder& b : builders)
        b.flush();
}

size_t writeArchive(const RecordingPlan& plan, const std::string& path) {
    checkDamageFits(plan, false);
    ArchiveSettings settings;
    settings.channelMask = plan.channelMask();
    settings.byteOrder = plan.byteOrder;
    settings.codecByte = codecByte(plan.codec);
    settings.blockSize = plan.blockSize;
    settings.timeOffset = plan.timeOffset;
    ArchiveWriter writer(path, settings);
    generateBlocks(plan, writer);
    const ArchiveLayout layout = writer.finish();

    std::vector<ByteRange> zeroed;
    if (plan.damage.zeroMiniTable)
        zeroed.push_back({layout.miniTableOffset, layout.miniTableLength});
    if (plan.damage.zeroHeader) zeroed.push_back({layout.headerOffset, kArchiveHeaderSize});
    if (const auto n = plan.damage.zeroBlockTables) {
        if (*n >= layout.blockTables.size())
            throw std::invalid_argument("--zero-block-tables " + std::to_string(*n) +
                                        ": the archive has " +
                                        std::to_string(layout.blockTables.size()) + " blocks");
        zeroed.push_back({layout.blockTables[*n].offset, layout.blockTables[*n].length});
    }
    if (!zeroed.empty() || plan.damage.cutAt) damageFile(path, zeroed, plan.damage.cutAt);
    return layout.blocks;
}

DiskImageLayout writeDiskImage(const RecordingPlan& plan, const DiskImageOptions& ring,
                               const std::string& path) {
    checkDamageFits(plan, true);
    DiskImageSettings settings;
    settings.ring = ring;
    settings.byteOrder = plan.byteOrder;
    settings.codecByte = codecByte(plan.codec);
    settings.blockSize = plan.blockSize;
    settings.channels = plan.twoGroups() ? 32 : 16;
    DiskImageWriter writer(path, settings);
    generateBlocks(plan, writer);
    if (plan.damage.staleBlocks) {
        for (Block& block :
             generateStaleBlocks(plan, writer.blocksReceived(), plan.damage.staleBlocks))
            writer.putStaleBlock(std::move(block));
    }
    const DiskImageLayout layout = writer.finish();

    std::vector<ByteRange> zeroed;
    if (plan.damage.zeroMhs) zeroed.push_back({layout.mhsOffset, layout.mhsLength});
    if (!zeroed.empty() || plan.damage.cutAt) damageFile(path, zeroed, plan.damage.cutAt);
    return layout;
}

} // namespace qm::mkrec
