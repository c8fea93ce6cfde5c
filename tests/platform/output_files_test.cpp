// The one check every writer goes through: what it refuses, and that a
// replacement never destroys the old file before it is complete.

#include "platform/output_files.h"
#include "tests/process_temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace qm {
namespace {

namespace fs = std::filesystem;

std::string Dir() {
    static const test::ProcessTempDir process("platform");
    return process.ForCurrentTest().string();
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool CreateAndWrite(OutputFiles& outputs, const std::string& path, const std::string& text) {
    std::string error;
    FILE* f = outputs.Create(path, error);
    if (!f) return false;
    std::fputs(text.c_str(), f);
    return std::fclose(f) == 0;
}

TEST(OutputFiles, NoWayOfNamingTheSourceReachesIt) {
    const std::string dir = Dir();
    const std::string source = dir + "/rec.avr";
    Write(source, "evidence");
    fs::create_symlink(source, dir + "/link.avi");
    fs::create_hard_link(source, dir + "/hard.avi");
    fs::create_directories(dir + "/sub");
    const int fd = ::open(source.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const std::string procFd = "/proc/self/fd/" + std::to_string(fd);

    for (const bool replace : {false, true}) {
        OutputFiles outputs(replace);
        outputs.AddSource(dir + "/sub/../rec.avr");
        for (const std::string& name :
             {source, dir + "/link.avi", dir + "/hard.avi", dir + "/./sub/../rec.avr", procFd}) {
            EXPECT_EQ(outputs.Check(name), OutputRefusal::kOntoSource) << name;
            std::string error;
            EXPECT_EQ(outputs.Create(name, error), nullptr) << name;
            EXPECT_EQ(error, "refusing to write onto the source: " + name);
        }
        // A folder is no file to write, whatever the consent.
        EXPECT_EQ(outputs.Check(dir + "/sub"), OutputRefusal::kNotAFile);
    }
    ::close(fd);
    EXPECT_EQ(Read(source), "evidence");
}

TEST(OutputFiles, ExistingFilesAreKeptUnlessAgreedAndThenOnlyReplacedWhenComplete) {
    const std::string dir = Dir();
    const std::string old = dir + "/clip.avi";
    Write(old, "old");

    OutputFiles refuse;
    EXPECT_EQ(refuse.Check(old), OutputRefusal::kExists);
    EXPECT_FALSE(CreateAndWrite(refuse, old, "new"));
    EXPECT_EQ(RefusalText(OutputRefusal::kExists, old), old + " exists; use --force to replace it");
    EXPECT_EQ(Read(old), "old");

    // Agreed, but the run fails: the old file stays, and no stray file is left.
    {
        OutputFiles failing(true);
        ASSERT_TRUE(CreateAndWrite(failing, old, "half"));
        EXPECT_EQ(Read(old), "old");
    }
    EXPECT_EQ(Read(old), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    // Agreed and committed: replaced in one step. A new name is created as is.
    OutputFiles replacing(true);
    ASSERT_TRUE(CreateAndWrite(replacing, old, "new"));
    ASSERT_TRUE(CreateAndWrite(replacing, dir + "/clip-002.avi", "second"));
    EXPECT_EQ(replacing.Check(old), OutputRefusal::kTwice); // one run writes a name once
    std::string error;
    ASSERT_TRUE(replacing.Commit(error)) << error;
    EXPECT_EQ(Read(old), "new");
    EXPECT_EQ(Read(dir + "/clip-002.avi"), "second");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);

    // A name that appears after the check is not written through.
    OutputFiles late;
    const std::string racing = dir + "/racing.avi";
    ASSERT_EQ(late.Reserve(racing), OutputRefusal::kNone);
    Write(racing, "someone else's");
    EXPECT_FALSE(CreateAndWrite(late, racing, "ours"));
    EXPECT_EQ(Read(racing), "someone else's");
}

} // namespace
} // namespace qm
