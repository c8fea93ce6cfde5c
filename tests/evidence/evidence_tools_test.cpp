// qmtool over damaged archives and disk images: info, frames, decode and
// export each either use what is intact or stop with a message, within their
// time and without a sanitizer report, and none of them changes the source.

#include "evidence_fixture.h"

#include <gtest/gtest.h>

namespace qm::evidence {
namespace {

class EvidenceTools : public EvidenceFixture {
protected:
    // Runs every command over every variant; all problems are reported at once.
    void RunAll(const std::vector<Variant>& variants) {
        ASSERT_FALSE(variants.empty());
        for (const Variant& v : variants) {
            SCOPED_TRACE(v.name);
            const std::string path = WriteVariant(v);
            const uint64_t before = HashOf(v.bytes);
            for (const std::string& command : ToolCommands(path)) {
                const RunResult r = RunWithTimeout(command, kToolSeconds, Dir() + "/stderr");
                const std::string problem = JudgeTool(r);
                EXPECT_TRUE(problem.empty()) << command << ": " << problem;
            }
            EXPECT_EQ(HashOf(ReadFile(path)), before) << "the source changed";
            RemoveOutputs();
        }
    }
};

TEST_F(EvidenceTools, ArchivesCutShortAtEveryStructure) {
    RunAll(ArchiveTruncations(LittleEndianArchive()));
    RunAll(ArchiveTruncations(BigEndianArchive()));
}

TEST_F(EvidenceTools, ArchivesWithFlippedBytes) {
    RunAll(ArchiveFlips(LittleEndianArchive(), 1));
    RunAll(ArchiveFlips(BigEndianArchive(), 2));
}

TEST_F(EvidenceTools, ArchivesWithWrongMagicWords) {
    RunAll(ArchiveWrongMagic(LittleEndianArchive()));
    RunAll(ArchiveWrongMagic(BigEndianArchive()));
}

TEST_F(EvidenceTools, ArchivesWithZeroAndHugeSizesAndCounts) {
    RunAll(ArchiveSizesAndCounts(LittleEndianArchive()));
    RunAll(ArchiveSizesAndCounts(BigEndianArchive()));
}

TEST_F(EvidenceTools, DiskImagesDamagedEverywhere) {
    RunAll(DiskImageVariants(DiskImage(), 3));
}

// Damage to some frames costs those frames only: the rest are still listed.
TEST_F(EvidenceTools, FramesAroundDamagedOnesAreStillDelivered) {
    const std::vector<uint8_t> good = LittleEndianArchive();
    const size_t all = CountFrames(WriteVariant({"intact", good}));
    ASSERT_GT(all, 20u);
    for (const Variant& v : ArchiveWrongMagic(good)) {
        if (v.name != "magic-some-frames") continue;
        const size_t left = CountFrames(WriteVariant(v));
        EXPECT_LT(left, all);
        EXPECT_GT(left, all / 3);
    }
}

} // namespace
} // namespace qm::evidence
