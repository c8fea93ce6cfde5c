// The generator's headers come before Qt's, whose keyword macros (slots,
// signals, emit) would rewrite plain C++ names in them.
#include "tools/mkrec/recording_generator.h"
#include "tools/mkrec/recording_plan.h"
#include "tools/mkrec/video_encoder.h"

#include "main_window_support.h"

#include "tests/process_temp_dir.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace qm::testing_support {

namespace {

Recordings Make() {
    mkrec::quietCodecLog();
    // This process's own folder, emptied before use (a run that crashed may
    // have left one with the same process id) and removed at its end.
    static const test::ProcessTempDir process("main_window");
    const auto dir = process.ForCurrentTest().parent_path() / "recordings";
    std::filesystem::create_directories(dir);
    Recordings r;
    r.eightCameras = (dir / "eight.avr").string();
    r.headerOnly = (dir / "header-only.avr").string();
    r.noMagic = (dir / "no-magic.avr").string();
    r.missing = (dir / "missing.avr").string();
    r.diskImage = (dir / "disk.img").string();
    r.diskNoTable = (dir / "disk-no-table.img").string();
    r.withGap = (dir / "gap.avr").string();

    mkrec::RecordingPlan plan;
    plan.channels = {0, 1, 2, 3, 4, 5, 6, 7};
    plan.durationSeconds = 6;
    plan.fps = 8;
    plan.gop = 4;
    plan.defaultSize = {176, 144};
    plan.blockSize = 65536;
    plan.quality = 30;
    mkrec::writeArchive(plan, r.eightCameras);

    mkrec::RecordingPlan disk = plan;
    disk.channels = {0, 1, 2, 3};
    mkrec::DiskImageOptions ring;
    ring.wrap = true;
    mkrec::writeDiskImage(disk, ring, r.diskImage);
    disk.damage.zeroMhs = true;
    mkrec::writeDiskImage(disk, ring, r.diskNoTable);

    mkrec::RecordingPlan gap = plan;
    gap.channels = {0, 1};
    gap.durationSeconds = 12;
    gap.gaps = {{3, 8}};
    mkrec::writeArchive(gap, r.withGap);

    std::ifstream in(r.eightCameras, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(r.headerOnly, std::ios::binary).write(bytes.data() + bytes.size() - 512, 512);
    const std::vector<char> zeros(1024, 0);
    std::ofstream(r.noMagic, std::ios::binary).write(zeros.data(), std::streamsize(zeros.size()));
    return r;
}

} // namespace

const Recordings& TestRecordings() {
    // The folder goes with the recordings when the process ends.
    struct Owner {
        Recordings r = Make();
        ~Owner() {
            std::error_code ignored;
            std::filesystem::remove_all(std::filesystem::path(r.eightCameras).parent_path(),
                                        ignored);
        }
    };
    static const Owner owner;
    return owner.r;
}

} // namespace qm::testing_support
