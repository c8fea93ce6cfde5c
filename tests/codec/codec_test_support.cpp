#include "codec_test_support.h"

#include "tests/process_temp_dir.h"

#include "storage/parse_index.h"
#include "tools/mkrec/recording_generator.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace qm::test {

std::string codecTempFile(const std::string& name) {
    static const ProcessTempDir process("codec");
    return (process.ForCurrentTest() / name).string();
}

mkrec::RecordingPlan smallCodecPlan(mkrec::VideoCodec codec) {
    mkrec::RecordingPlan plan;
    plan.channels = {0, 1};
    plan.durationSeconds = 2;
    plan.fps = 6;
    plan.defaultSize = {176, 144};
    plan.blockSize = 256 * 1024;
    plan.codec = codec;
    return plan;
}

std::string writeRecording(const mkrec::RecordingPlan& plan, const std::string& name) {
    const std::string path = codecTempFile(name);
    mkrec::writeArchive(plan, path);
    return path;
}

void forEachVideoFrame(const std::string& path,
                       const std::function<void(const FrameRecord&)>& visit) {
    CQMParseIndex reader;
    ASSERT_TRUE(reader.OpenFile(path)) << path;
    std::vector<uint8_t> videoBuf(kVideoPayloadCapacity), audioBuf(kAudioPayloadCapacity),
        extraBuf(kExtraPayloadCapacity);
    FrameRecord video{}, audio{}, extra{};
    video.payload = videoBuf.data();
    audio.payload = audioBuf.data();
    extra.payload = extraBuf.data();
    for (;;) {
        reader.WaitForPreparedSlots(1500);
        bool any = false;
        for (int c = 0; c < kMaxChannels && !any; ++c)
            any = reader.FrameStateOf(c) == kSlotReady;
        if (!any) break;
        const int got = reader.GetNextFrame(&video, 0, &audio, 1, &extra, 1);
        reader.SignalPrepare();
        if (got == 1) visit(video);
    }
    reader.CloseFile();
}

int runCommand(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        output.append(buf, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string qmtoolPath() {
    const char* env = std::getenv("QMTOOL");
    return env && *env ? env : QM_QMTOOL_PATH;
}

} // namespace qm::test
