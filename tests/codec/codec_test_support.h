#pragma once
// Shared set-up for the decoder tests: small generated recordings and a walk
// over their frames through the storage reader, as the player receives them.

#include "storage/frame_record.h"
#include "tools/mkrec/recording_plan.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qm::test {

// A per-test temporary file path.
std::string codecTempFile(const std::string& name);

// Two cameras of 176 x 144 for two seconds at 6 frames per second.
mkrec::RecordingPlan smallCodecPlan(mkrec::VideoCodec codec);

// Writes the plan to a temporary archive and returns its path.
std::string writeRecording(const mkrec::RecordingPlan& plan, const std::string& name);

// Every delivered video frame of the archive, in delivery order.
void forEachVideoFrame(const std::string& path,
                       const std::function<void(const FrameRecord&)>& visit);

// Runs a command line; returns its exit status and standard output.
int runCommand(const std::string& command, std::string& output);

std::string qmtoolPath();

} // namespace qm::test
