#pragma once
// Drives a whole recording: follows the frame schedule, has every channel
// produce its frames (channels in parallel, each on one thread so the output
// stays deterministic) and feeds them, group by group, to block builders.

#include "tools/mkrec/block_builder.h"
#include "tools/mkrec/disk_image_writer.h"
#include "tools/mkrec/recording_plan.h"

#include <string>

namespace qm::mkrec {

// Produces every block of the recording into `sink`, each group's in time order.
// Throws std::runtime_error (or std::length_error) on failure.
void generateBlocks(const RecordingPlan& plan, BlockSink& sink);

// The writers below then do to the file the damage the plan asks for, and
// throw std::invalid_argument for damage that does not apply to their output.

// Writes the recording as an .avr archive; returns the number of blocks.
size_t writeArchive(const RecordingPlan& plan, const std::string& path);

// Writes the recording as an image of a DVR disk (or card) with the given ring.
DiskImageLayout writeDiskImage(const RecordingPlan& plan, const DiskImageOptions& ring,
                               const std::string& path);

} // namespace qm::mkrec
