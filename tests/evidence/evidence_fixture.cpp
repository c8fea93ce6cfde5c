#include "evidence_fixture.h"

#include "tests/process_temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace qm::evidence {

std::string EvidenceFixture::s_dir;
std::vector<uint8_t> EvidenceFixture::s_little, EvidenceFixture::s_big, EvidenceFixture::s_disk;

namespace {

std::vector<uint8_t> Generate(const std::string& path, const std::string& options) {
    const std::string mkrec = Program("MKREC", QM_MKREC_PATH);
    const std::string line = "'" + mkrec + "' --out '" + path + "' " + options + " >/dev/null";
    if (std::system(line.c_str()) != 0) return {};
    return ReadFile(path);
}

} // namespace

void EvidenceFixture::SetUpTestSuite() {
    // This process's own folder, emptied before use (a run that crashed may
    // have left one with the same process id).
    static const test::ProcessTempDir process("evidence");
    s_dir = process.ForCurrentTest().string();
    s_little = Generate(s_dir + "/little.avr",
                        "--channels 1-2 --duration 4 --fps 5 --gop 5 --size 64x48 --codec H264 "
                        "--audio 1:2 --block-size 8192");
    s_big = Generate(s_dir + "/big.avr",
                     "--channels 1,17 --duration 4 --fps 4 --size 48x32 --size-change 2:32x32 "
                     "--codec MJPG --byte-order 0 --audio 17:5 --block-size 8192");
    s_disk = Generate(s_dir + "/disk.img",
                      "--disk-image --channels 1-2 --duration 4 --fps 5 --size 64x48 "
                      "--codec H264 --audio 2:2 --block-size 8192");
}

void EvidenceFixture::TearDownTestSuite() {
    std::error_code ec;
    std::filesystem::remove_all(s_dir, ec);
}

std::string EvidenceFixture::WriteVariant(const Variant& v) {
    EXPECT_FALSE(s_little.empty() || s_big.empty() || s_disk.empty()) << "mkrec failed";
    const std::string path = s_dir + "/source";
    WriteFile(path, v.bytes);
    return path;
}

std::vector<std::string> EvidenceFixture::ToolCommands(const std::string& source) const {
    const std::string tool = "'" + Program("QMTOOL", QM_QMTOOL_PATH) + "' ";
    const std::string src = " '" + source + "'";
    return {tool + "info --json" + src, tool + "frames" + src, tool + "decode" + src,
            tool + "export --channel 1 --force --audio-wav '" + s_dir + "/out.wav' --out '" +
                s_dir + "/out.avi'" + src};
}

void EvidenceFixture::RemoveOutputs() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(s_dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("out", 0) == 0) std::filesystem::remove(entry.path(), ec);
    }
}

size_t EvidenceFixture::CountFrames(const std::string& source) {
    const std::string out = s_dir + "/frames.txt";
    const std::string line = "timeout 120 '" + Program("QMTOOL", QM_QMTOOL_PATH) + "' frames '" +
                             source + "' >'" + out + "' 2>/dev/null";
    const int status = std::system(line.c_str());
    EXPECT_EQ(status, 0) << line;
    size_t lines = 0;
    for (uint8_t b : ReadFile(out))
        if (b == '\n') ++lines;
    return lines;
}

} // namespace qm::evidence
