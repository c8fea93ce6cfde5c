// mkrec: writes DVR archives and disk images with known content for tests and
// demonstrations.

#include "tools/mkrec/options.h"
#include "tools/mkrec/recording_generator.h"
#include "tools/mkrec/video_encoder.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace qm::mkrec;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    auto options = parseOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "mkrec: %s\n%s", error.c_str(), usageText());
        return 2;
    }
    if (options->help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    quietCodecLog();
    try {
        if (options->disk) {
            const DiskImageLayout layout =
                writeDiskImage(options->plan, *options->disk, options->outPath);
            std::printf("%s: disk image, %zu blocks of %u bytes in a ring of %u slots",
                        options->outPath.c_str(), layout.blocksKept, layout.blockSize,
                        layout.slotCount);
            if (layout.blocksKept < layout.blocksGenerated)
                std::printf(" (%zu older blocks overwritten)",
                            layout.blocksGenerated - layout.blocksKept);
            if (options->plan.damage.staleBlocks)
                std::printf(", %u stale blocks outside the MHS", options->plan.damage.staleBlocks);
            std::printf("\n");
        } else {
            size_t blocks = writeArchive(options->plan, options->outPath);
            std::printf("%s: %zu blocks of %u bytes\n", options->outPath.c_str(), blocks,
                        options->plan.blockSize);
        }
    } catch (const std::exception& e) {
        std::remove(options->outPath.c_str());
        std::fprintf(stderr, "mkrec: %s\n", e.what());
        return 1;
    }
    return 0;
}
