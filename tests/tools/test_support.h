#pragma once
// Shared set-up for the generator tests: small, quick recordings in a
// per-test temporary directory.

#include "tools/mkrec/recording_generator.h"
#include "tools/mkrec/recording_plan.h"

#include "archive_walker.h"

#include "tests/process_temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace qm::test {

inline std::string tempFile(const std::string& name) {
    static const ProcessTempDir process("tools");
    return (process.ForCurrentTest() / name).string();
}

inline mkrec::RecordingPlan smallPlan() {
    mkrec::RecordingPlan plan;
    plan.channels = {0, 1};
    plan.durationSeconds = 3;
    plan.fps = 8;
    plan.defaultSize = {176, 144};
    plan.blockSize = 256 * 1024;
    return plan;
}

// Writes the plan to a file and walks it back.
inline WalkedArchive generateAndWalk(const mkrec::RecordingPlan& plan,
                                     const std::string& name = "rec.avr") {
    const std::string path = tempFile(name);
    mkrec::writeArchive(plan, path);
    return walkArchive(readFile(path));
}

} // namespace qm::test
