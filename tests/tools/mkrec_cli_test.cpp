// The mkrec program as scripts use it.

#include "test_support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace qm::test;

namespace {

std::string mkrecPath() {
    const char* env = std::getenv("MKREC");
    return env && *env ? env : QM_MKREC_PATH;
}

int runMkrec(const std::string& args) {
    const std::string cmd = "'" + mkrecPath() + "' " + args + " > /dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(MkrecProgram, SameArgumentsGiveIdenticalFiles) {
    const std::string args = "--channels 1-2,17 --duration 2 --fps 10 --size 176x144 "
                             "--audio 1:2 --audio 17:5 --block-size 131072 --titles \"CAM %d\"";
    const std::string a = tempFile("a.avr"), b = tempFile("b.avr");
    ASSERT_EQ(runMkrec("--out " + a + " " + args), 0);
    ASSERT_EQ(runMkrec("--out " + b + " " + args), 0);
    const auto fa = readFile(a), fb = readFile(b);
    ASSERT_GT(fa.size(), 131072u);
    EXPECT_TRUE(fa == fb) << "outputs differ";
    const WalkedArchive w = walkArchive(fa);
    EXPECT_TRUE(w.errors.empty());
    EXPECT_EQ(w.channelMask, 0x10003u);
    EXPECT_EQ(w.frames.size(), 3u * 2 * 10);
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
