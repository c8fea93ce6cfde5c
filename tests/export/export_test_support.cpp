#include "export_test_support.h"

#include "avi_file.h"

#include "tests/process_temp_dir.h"

#include "tools/mkrec/frame_pattern.h"
#include "tools/mkrec/recording_generator.h"
#include "tools/mkrec/video_encoder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace qm::test {

std::string TempPath(const std::string& name) {
    static const ProcessTempDir process("export");
    return (process.ForCurrentTest() / name).string();
}

mkrec::RecordingPlan SmallPlan(mkrec::VideoCodec codec) {
    mkrec::quietCodecLog();
    mkrec::RecordingPlan plan;
    plan.channels = {0, 1};
    plan.durationSeconds = 4;
    plan.fps = 8;
    plan.gop = 4;
    plan.defaultSize = {176, 144};
    plan.blockSize = 128 * 1024;
    plan.quality = 30;
    plan.codec = codec;
    return plan;
}

std::string WriteArchive(const mkrec::RecordingPlan& plan) {
    const std::string path = TempPath("rec.avr");
    mkrec::writeArchive(plan, path);
    return path;
}

std::string WriteDiskImage(const mkrec::RecordingPlan& plan, const mkrec::DiskImageOptions& ring,
                           mkrec::DiskImageLayout* layout, const std::string& name) {
    const std::string path = TempPath(name);
    const auto written = mkrec::writeDiskImage(plan, ring, path);
    if (layout) *layout = written;
    return path;
}

int RunCommand(const std::string& command, std::string& out, std::string* err) {
    const std::string errFile = TempPath("stderr.txt");
    FILE* pipe = ::popen((command + (err ? " 2>" + errFile : "")).c_str(), "r");
    if (!pipe) return -1;
    out.clear();
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        out.append(buf, n);
    const int status = ::pclose(pipe);
    if (err) {
        const auto bytes = ReadFile(errFile);
        err->assign(bytes.begin(), bytes.end());
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string QmtoolPath() {
    const char* env = std::getenv("QMTOOL");
    return env && *env ? env : QM_QMTOOL_PATH;
}

Outcome Qmtool(const std::string& arguments) {
    Outcome o;
    o.status = RunCommand("TZ=UTC " + QmtoolPath() + " " + arguments, o.out, &o.err);
    return o;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<int> DecodedFrames(const std::string& avi, int width, int height, int channel) {
    const std::string raw = avi + ".gray";
    const std::string pcm = avi + ".pcm";
    std::string out, err;
    if (RunCommand("ffmpeg -nostdin -y -v error -i '" + avi +
                       "' -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt gray '" + raw +
                       "' -map 0:a -f s16le -c:a pcm_s16le '" + pcm + "'",
                   out, &err) != 0 ||
        !err.empty()) {
        ADD_FAILURE() << "ffmpeg: " << err;
        return {};
    }
    // ffmpeg reads the sound stream as the header describes it: every sample
    // the file holds, no more.
    EXPECT_EQ(ReadFile(pcm).size() / 2, ReadAviChecked(avi).U32(kAudioLength)) << avi;
    const auto bytes = ReadFile(raw);
    const size_t picture = size_t(width) * size_t(height);
    std::vector<int> frames;
    for (size_t at = 0; at + picture <= bytes.size(); at += picture) {
        const auto stamp = mkrec::decodePattern(bytes.data() + at, width, width, height);
        frames.push_back(stamp && stamp->channel == channel ? int(stamp->frame) : -1);
    }
    return frames;
}

} // namespace qm::test
