// A DVR disk whose block table is gone: its ring is scanned for the blocks'
// own headers, played in the order they were recorded, and blocks the table
// never listed are found and counted as unindexed.

#include "disk_test_support.h"
#include "reader_test_support.h"

#include "storage/disk_scan.h"
#include "storage/recording_index.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace qm;
using namespace qm::test;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> v;
    for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        v.push_back(text.substr(at, nl - at));
    return v;
}

std::string Unmarked(std::string line) {
    const std::string mark = ",\"scanned\":true";
    const size_t at = line.find(mark);
    EXPECT_NE(at, std::string::npos) << line;
    if (at != std::string::npos) line.erase(at, mark.size());
    return line;
}

uint32_t TimeOf(const std::string& line) {
    const size_t at = line.find("\"time\":");
    return at == std::string::npos ? 0 : uint32_t(std::stoul(line.substr(at + 7)));
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

TEST(DiskScan, AZeroedTableIsRebuiltFromTheRingInRecordingOrder) {
    mkrec::RecordingPlan plan = DiskPlan();
    plan.durationSeconds = 8;
    plan.blockSize = 16384; // several blocks, a few in one second
    mkrec::DiskImageOptions ring;
    ring.ringSlots = 48;
    ring.wrap = true; // the recording runs past the ring's last slot
    mkrec::RecordingPlan stale = plan;
    stale.damage.staleBlocks = 2; // left from before a reset, after the recording's slots
    const DiskImage listed = WriteDiskImage(stale, ring, "listed.img");
    mkrec::RecordingPlan zeroed = stale;
    zeroed.damage.zeroMhs = true;
    const DiskImage gone = WriteDiskImage(zeroed, ring, "gone.img");
    const size_t count = listed.layout.blocksKept;
    ASSERT_GE(count, 5u);
    ASSERT_LT(SlotsInRecordingOrder(listed.layout).back(), SlotsInRecordingOrder(listed.layout)[0])
        << "the recording should wrap";

    // The report: every block found, the table's own ones indexed.
    const std::string counts =
        "\"blocks\":{\"found\":" + std::to_string(count + 2) + ",\"indexed\":";
    const ToolResult report = RunQmtool("recover --json " + listed.path);
    ASSERT_EQ(report.status, 0) << report.err;
    EXPECT_NE(report.out.find(counts + std::to_string(count) + ",\"unindexed\":2}"),
              std::string::npos)
        << report.out;
    const ToolResult goneReport = RunQmtool("recover --json " + gone.path);
    EXPECT_NE(goneReport.out.find(counts + "0,\"unindexed\":" + std::to_string(count + 2) + "}"),
              std::string::npos)
        << goneReport.out;
    EXPECT_NE(goneReport.out.find("\"damaged\":[]"), std::string::npos) << goneReport.out;

    // A table that lists its blocks is played as it stands: no scan, no stale block.
    const ToolResult intact = RunQmtool("frames --json " + listed.path);
    ASSERT_EQ(intact.status, 0) << intact.err;
    EXPECT_EQ(intact.err.find("index damaged"), std::string::npos) << intact.err;
    const auto recording = Lines(intact.out);
    ASSERT_FALSE(recording.empty());
    EXPECT_GE(TimeOf(recording.front()), plan.start);

    // Without the table: the stale blocks first (they are older), then the
    // recording's frames exactly as the table gave them, across the wrap.
    const ToolResult scanned = RunQmtool("frames --json " + gone.path);
    ASSERT_EQ(scanned.status, 0) << scanned.err;
    EXPECT_NE(scanned.err.find("qmtool: index damaged: " + std::to_string(count + 2) +
                               " blocks found by scanning"),
              std::string::npos)
        << scanned.err;
    std::vector<std::string> older, newer;
    for (const std::string& line : Lines(scanned.out)) {
        (TimeOf(line) < plan.start ? older : newer).push_back(Unmarked(line));
        if (!newer.empty())
            EXPECT_GE(TimeOf(line), plan.start) << "a stale frame after the recording's";
    }
    EXPECT_FALSE(older.empty());
    EXPECT_EQ(newer, recording);

    // The export reader takes the same blocks: the recording's camera 1 is
    // the same file from either image.
    const std::string from = " --from " + std::to_string(plan.start) + " --force --no-manifest";
    const std::string a = TempPath("listed1.avi"), b = TempPath("gone1.avi");
    ASSERT_EQ(RunQmtool("export --channel 1 --out " + a + from + " " + listed.path).status, 0);
    const ToolResult exported = RunQmtool("export --channel 1 --out " + b + from + " " + gone.path);
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_FALSE(Contents(a).empty());
    EXPECT_EQ(Contents(a), Contents(b));
}
