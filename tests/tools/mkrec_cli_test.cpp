// The mkrec program as scripts use it.

#include "test_support.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <sys/wait.h>
#include <vector>

using namespace qm::test;

namespace {

constexpr std::array<uint8_t, 3> kStartCode = {0, 0, 1};

std::string mkrecPath() {
    const char* env = std::getenv("MKREC");
    return env && *env ? env : QM_MKREC_PATH;
}

int runMkrec(const std::string& args) {
    const std::string cmd = "'" + mkrecPath() + "' " + args + " > /dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs mkrec twice with the same arguments into two files: the same command
// must give the same bytes. Returns the first file's bytes (empty on failure).
std::vector<uint8_t> twoIdenticalRuns(const std::string& args) {
    const std::string a = tempFile("a.avr"), b = tempFile("b.avr");
    EXPECT_EQ(runMkrec("--out " + a + " " + args), 0);
    EXPECT_EQ(runMkrec("--out " + b + " " + args), 0);
    auto bytes = readFile(a);
    EXPECT_TRUE(bytes == readFile(b)) << "outputs differ";
    return bytes;
}

} // namespace

TEST(MkrecProgram, SameArgumentsGiveIdenticalFiles) {
    const std::string args = "--channels 1-2,17 --duration 2 --fps 10 --size 176x144 "
                             "--audio 1:2 --audio 17:5 --block-size 131072 --titles \"CAM %d\"";
    const auto fa = twoIdenticalRuns(args);
    ASSERT_GT(fa.size(), 131072u);
    const WalkedArchive w = walkArchive(fa);
    EXPECT_TRUE(w.errors.empty());
    EXPECT_EQ(w.channelMask, 0x10003u);
    EXPECT_EQ(w.frames.size(), 3u * 2 * 10);
}

// Camera content as a recorder codes it: Main profile with CABAC, at the
// rate asked for, and still the same bytes from the same command.
TEST(MkrecProgram, CameraContentIsRateControlledMainProfile) {
    const std::string args = "--content camera --bitrate 0.4M --channels 1,3 --duration 4 "
                             "--size 352x240 --fps 25 --codec STHD";
    const auto fa = twoIdenticalRuns(args);
    const WalkedArchive w = walkArchive(fa);
    EXPECT_TRUE(w.errors.empty());
    ASSERT_EQ(w.frames.size(), 2u * 4 * 25);

    std::map<int, size_t> bytes;
    for (const WalkedFrame& f : w.frames) {
        const std::vector<uint8_t> s = unwrapVideo(w.codecByte, f);
        bytes[f.channel] += s.size();
        if (!f.key) continue;
        // Annex B: SPS first, then PPS; every key frame repeats them.
        const auto sps = std::search(s.begin(), s.end(), kStartCode.begin(), kStartCode.end());
        ASSERT_TRUE(sps + 5 < s.end() && (sps[3] & 0x1F) == 7);
        EXPECT_EQ(sps[4], 77) << "profile_idc: Main";
        const auto pps = std::search(sps + 3, s.end(), kStartCode.begin(), kStartCode.end());
        ASSERT_TRUE(pps + 4 < s.end() && (pps[3] & 0x1F) == 8);
        // pic_parameter_set_id and seq_parameter_set_id are 0, one bit each in
        // ue(v), so entropy_coding_mode_flag is the third bit.
        EXPECT_EQ(pps[4] & 0xE0, 0xE0) << "CABAC";
    }
    ASSERT_EQ(bytes.size(), 2u);
    for (auto [channel, total] : bytes) {
        const double kbps = double(total) * 8 / 4 / 1000;
        EXPECT_GT(kbps, 400 * 0.7) << "camera " << channel + 1;
        EXPECT_LT(kbps, 400 * 1.4) << "camera " << channel + 1;
    }
}

TEST(MkrecProgram, ExitStatus) {
    EXPECT_EQ(runMkrec("--help"), 0);
    EXPECT_EQ(runMkrec("--channels 1"), 2); // no --out
    EXPECT_EQ(runMkrec("--out x.avr --codec XVID"), 2);
    const std::string path = tempFile("small.avr");
    // A frame larger than a block: a failure, and no half-written file is left.
    EXPECT_EQ(runMkrec("--out " + path + " --size 704x576 --codec MJPG --block-size 4096"), 1);
    EXPECT_TRUE(readFile(path).empty());
    // A cut beyond the file's end is known only once the file is written.
    EXPECT_EQ(runMkrec("--out " + path + " --duration 1 --cut-at 100000000000"), 1);
    EXPECT_TRUE(readFile(path).empty());
}
