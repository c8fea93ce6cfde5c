// What qmtool writes and says, as an examiner relies on it: never a byte onto
// the source however it is named, never over an existing file without
// --force (and then only once the new file is complete), the range asked for
// delivered from the key frame before it, snapshots that name their frame,
// one message for a camera that is not recorded, and damage that is counted.

#include "storage/record_layout.h"

#include "avi_file.h"
#include "export_test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <qm_version.h>

#include <filesystem>
#include <fstream>

namespace qm {
namespace {

using test::Qmtool;

std::vector<int> Range(int from, int to) {
    std::vector<int> v;
    for (int i = from; i < to; ++i)
        v.push_back(i);
    return v;
}

std::string Quoted(const std::string& path) {
    return " '" + path + "' ";
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
    const auto bytes = test::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(QmtoolEvidence, OutputsNeverReachTheSourceNorReplaceWithoutForce) {
    auto plan = test::SmallPlan();
    plan.sizeChanges = {{2, {352, 240}}}; // two files: NAME.avi and NAME-002.avi
    const std::string archive = test::WriteArchive(plan);
    const auto before = test::ReadFile(archive);
    const std::string link = test::TempPath("link.avi");
    const std::string hard = test::TempPath("hard.avi");
    std::filesystem::create_symlink(archive, link);
    std::filesystem::create_hard_link(archive, hard);
    const std::string source = Quoted(archive);

    for (const std::string& name : {archive, link, hard}) {
        for (const std::string force : {"", " --force"}) {
            const auto o = Qmtool("export --channel 1" + force + " --out" + Quoted(name) + source);
            EXPECT_EQ(o.status, 1) << name << force;
            EXPECT_EQ(o.err, "qmtool: refusing to write onto the source: " + name + "\n");
        }
    }
    const auto wav = Qmtool("export --channel 1 --force --out" + Quoted(test::TempPath("x.avi")) +
                            "--audio-wav" + source + source);
    EXPECT_EQ(wav.err, "qmtool: refusing to write onto the source: " + archive + "\n");
    const auto still = Qmtool("snapshot --channel 1 --time +1 --out" + Quoted(hard) + source);
    EXPECT_EQ(still.err, "qmtool: refusing to write onto the source: " + hard + "\n");
    EXPECT_FALSE(std::filesystem::exists(test::TempPath("x.avi")));
    EXPECT_EQ(test::ReadFile(archive), before);

    // An existing output: refused, kept when a forced run fails, replaced
    // when a forced run completes.
    const std::string clip = test::TempPath("clip.avi");
    WriteText(clip, "old");
    const auto kept = Qmtool("export --channel 1 --out" + Quoted(clip) + source);
    EXPECT_EQ(kept.status, 1);
    EXPECT_EQ(kept.err, "qmtool: " + clip + " exists; use --force to replace it\n");
    // The second file's name leads to the source: the run fails half way.
    const std::string second = test::TempPath("clip-002.avi");
    std::filesystem::create_symlink(archive, second);
    const auto failed = Qmtool("export --channel 1 --force --out" + Quoted(clip) + source);
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("refusing to write onto the source: " + second), std::string::npos)
        << failed.err;
    EXPECT_EQ(ReadText(clip), "old");
    std::filesystem::remove(second);
    const auto replaced = Qmtool("export --channel=1 --force --json --out" + Quoted(clip) + source);
    ASSERT_EQ(replaced.status, 0) << replaced.err;
    const auto summary = nlohmann::json::parse(replaced.out);
    EXPECT_EQ(summary["frames"], 32);
    EXPECT_EQ(summary["files"], nlohmann::json::array({clip, second}));
    EXPECT_EQ(summary["version"], QM_VERSION_TEXT);
    EXPECT_EQ(test::DecodedFrames(clip, 176, 144, 0), Range(0, 16));
    // No half-written replacement was left beside it.
    for (const auto& e :
         std::filesystem::directory_iterator(std::filesystem::path(clip).parent_path()))
        EXPECT_EQ(e.path().filename().string().find(".clip.avi"), std::string::npos) << e.path();

    // Numbered files of an earlier export would pass for this one's.
    WriteText(test::TempPath("two-002.avi"), "old");
    const auto numbered =
        Qmtool("export --channel 1 --out" + Quoted(test::TempPath("two.avi")) + source);
    EXPECT_EQ(numbered.err,
              "qmtool: " + test::TempPath("two-002.avi") + " exists; use --force to replace it\n");
    EXPECT_EQ(test::ReadFile(archive), before);
}

TEST(QmtoolEvidence, RangesSnapshotsAndCamerasSayExactlyWhatWasDelivered) {
    auto plan = test::SmallPlan();
    plan.gop = 6;        // key frames at 0, 0.75, 1.5, 2.25... s: not on the seconds
    plan.timeOffset = 4; // the player shows two hours more (the tests run in UTC)
    plan.timeZone = 28;
    const std::string source = Quoted(test::WriteArchive(plan));

    // From inside a group of pictures: its key frame (0.75 s) first, then
    // every frame of the second asked for, through the end of the second.
    const std::string part = test::TempPath("part.avi");
    const auto ranged =
        Qmtool("export --channel 2 --from +1 --to +1 --no-audio --out" + Quoted(part) + source);
    ASSERT_EQ(ranged.status, 0) << ranged.err;
    EXPECT_EQ(test::DecodedFrames(part, 176, 144, 1), Range(6, 16));
    EXPECT_EQ(ranged.err, "qmtool: 10 frames, first 2023-11-15 00:13:20.750, last 2023-11-15 "
                          "00:13:21.875, 0 gaps over 2 s (0.000 s), 0 damaged frames skipped\n");
    // The same moments as the tool prints them, in UTC, and as epoch seconds.
    for (const std::string range : {" --from '2023-11-15 00:13:21' --to 2023-11-15T00:13:21.999",
                                    " --utc --from '2023-11-14 22:13:21' --to 1700000001.999"}) {
        const std::string again = test::TempPath("again.avi");
        ASSERT_EQ(
            Qmtool("export --channel 2 --force" + range + " --out" + Quoted(again) + source).status,
            0)
            << range;
        EXPECT_EQ(test::DecodedFrames(again, 176, 144, 1), Range(6, 16)) << range;
    }

    const auto outside =
        Qmtool("snapshot --channel 2 --time +10 --out" + Quoted(test::TempPath("o.png")) + source);
    EXPECT_EQ(outside.status, 1);
    EXPECT_EQ(outside.err, "qmtool: 2023-11-15 00:13:30.000 is outside the recording "
                           "(2023-11-15 00:13:20.000 to 2023-11-15 00:13:23.999)\n");
    const std::string png = test::TempPath("s.png");
    const auto shot = Qmtool("snapshot --channel=2 --time '2023-11-15 00:13:21.100' --out" +
                             Quoted(png) + source);
    ASSERT_EQ(shot.status, 0) << shot.err;
    EXPECT_EQ(shot.err.substr(0, shot.err.find('\n')),
              "qmtool: saved camera 2 at 2023-11-15 00:13:21.125, frame 9, to " + png);

    for (const std::string& command :
         std::vector<std::string>{"frames --channel 5", "decode --channel 5",
                                  "snapshot --channel 5 --time +1 --out " + test::TempPath("n.png"),
                                  "export --channel 5 --out " + test::TempPath("n.avi")}) {
        const auto o = Qmtool(command + source);
        EXPECT_EQ(o.status, 1) << command;
        EXPECT_EQ(o.err, "qmtool: camera 5 is not in this recording (recorded: 1, 2)\n") << command;
    }
    EXPECT_EQ(Qmtool("--version").out, std::string("qmtool ") + QM_VERSION_TEXT + "\n");
}

TEST(QmtoolEvidence, DamagedFramesAreCountedAndStrictMakesThemAFailure) {
    const std::string archive = test::WriteArchive(test::SmallPlan());
    // The marker of camera 1's sixth frame (a P frame) is destroyed.
    auto bytes = test::ReadFile(archive);
    bool damaged = false;
    for (size_t at = 0; at + kFrameHeaderSize <= bytes.size() && !damaged; at += kUnitSize) {
        const uint8_t* h = bytes.data() + at;
        if (std::string(h, h + 4) == "hFmQ" && h[frame_field::kChannel] == 0 &&
            h[frame_field::kSequence] == 5) {
            bytes[at] = 'x';
            damaged = true;
        }
    }
    ASSERT_TRUE(damaged);
    std::ofstream(archive, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    const std::string source = Quoted(archive);

    const auto listed = Qmtool("frames" + source);
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.err.find(", 1 damaged frame skipped\n"), std::string::npos) << listed.err;
    EXPECT_EQ(Qmtool("frames --channel 2 --strict" + source).status, 0); // camera 2 is whole
    EXPECT_EQ(Qmtool("frames --strict" + source).status, 3);
    EXPECT_EQ(Qmtool("decode --strict --channel 1" + source).status, 3);
    const std::string out = test::TempPath("damaged.avi");
    const auto exported = Qmtool("export --channel 1 --strict --json --out" + Quoted(out) + source);
    EXPECT_EQ(exported.status, 3);
    EXPECT_EQ(nlohmann::json::parse(exported.out)["damaged_skipped"], 1);
    EXPECT_EQ(test::ReadAviChecked(out).Chunks("00dc").size(), 31u);
}

} // namespace
} // namespace qm
