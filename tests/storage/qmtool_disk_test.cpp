// qmtool on disk images: every command reads an image as it reads the archive
// of the same recording; damaged images and the drive list.

#include "disk_test_support.h"
#include "reader_test_support.h"

#include <gtest/gtest.h>

using namespace qm;
using namespace qm::test;

TEST(QmtoolDisk, EveryCommandReadsAnImageAsTheArchive) {
    mkrec::RecordingPlan plan = DiskPlan();
    plan.durationSeconds = 6;
    plan.audio[2] = 5;
    mkrec::DiskImageOptions ring;
    ring.wrap = true;
    ring.invalidSlots = 2;
    const std::string archive = "'" + WriteArchive(plan) + "'";
    const std::string image = "'" + WriteDiskImage(plan, ring).path + "'";

    const ToolResult info = RunQmtool("info --json " + image);
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("{\"kind\":\"disk\",\"codec\":\"H264\",\"byte_order\":1,"
                            "\"channel_mask\":7,\"channels\":[1,2,3],\"groups\":1,"
                            "\"start\":1700000000,\"end\":1700000005,\"time_offset\":0,"
                            "\"block_size\":32768,\"blocks\":["),
              std::string::npos)
        << info.out;
    for (const char* command : {"frames --json", "decode --md5"}) {
        const ToolResult fromImage = RunQmtool(std::string(command) + " " + image);
        const ToolResult fromArchive = RunQmtool(std::string(command) + " " + archive);
        ASSERT_EQ(fromImage.status, 0) << command << ": " << fromImage.err;
        EXPECT_GT(fromImage.out.size(), 1000u) << command;
        EXPECT_EQ(fromImage.out, fromArchive.out) << command;
    }
    const std::string png[2] = {TempPath("disk.png"), TempPath("archive.png")};
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(RunQmtool("snapshot --channel 2 --time 1700000003 --out '" + png[i] + "' " +
                            (i ? archive : image))
                      .status,
                  0);
    EXPECT_EQ(ReadBytes(png[0]), ReadBytes(png[1]));
}

TEST(QmtoolDisk, DamagedImagesFailWithOneLineAndDrivesAreListed) {
    mkrec::RecordingPlan plan = DiskPlan();
    plan.durationSeconds = 2;
    const DiskImage image = WriteDiskImage(plan, {});
    auto bytes = ReadBytes(image.path);
    storeLE32(bytes.data() + kDiskInfoOffset + disk_field::kBlockSize, 0);
    WriteBytes(image.path, bytes);
    const ToolResult r = RunQmtool("frames '" + image.path + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qmtool: " + image.path +
                         ": NO video in Hard Drive (the information sector gives an impossible "
                         "block size of 0 bytes)\n");
    EXPECT_TRUE(r.out.empty());

    // Whatever is attached here, the listing is well-formed and nothing fails.
    const ToolResult disks = RunQmtool("disks --json");
    EXPECT_EQ(disks.status, 0) << disks.err;
    ASSERT_GE(disks.out.size(), 3u);
    EXPECT_EQ(disks.out.front(), '[');
    EXPECT_EQ(disks.out.substr(disks.out.size() - 2), "]\n");
    EXPECT_EQ(RunQmtool("disks extra").status, 2);
}
