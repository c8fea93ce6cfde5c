#pragma once
// Shared set-up for the export tests: generated archives, temporary paths,
// running programs, and the pictures of an exported file read back through the
// ffmpeg command (an independent demuxer and decoder).

#include "tools/mkrec/disk_image_writer.h"
#include "tools/mkrec/recording_plan.h"

#include <csignal>
#include <cstdint>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace qm::test {

// A path in the running test's own directory.
std::string TempPath(const std::string& name);

// Files grow no further than `bytes` while the object lives: writes beyond
// fail with EFBIG (the signal that would end the process is ignored).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

// Cameras 1 and 2 at 176 x 144, 8 frames per second for 4 seconds.
mkrec::RecordingPlan SmallPlan(mkrec::VideoCodec codec = mkrec::VideoCodec::H264);
std::string WriteArchive(const mkrec::RecordingPlan& plan);
// The same recording as an image of a DVR's disk (or card) with that ring.
std::string WriteDiskImage(const mkrec::RecordingPlan& plan, const mkrec::DiskImageOptions& ring,
                           mkrec::DiskImageLayout* layout = nullptr,
                           const std::string& name = "disk.img");

// Exit status of a shell command, with its stdout and, if asked, its stderr.
int RunCommand(const std::string& command, std::string& out, std::string* err = nullptr);
std::string QmtoolPath();

struct Outcome {
    int status;
    std::string out, err;
};
// qmtool with the arguments (already quoted for the shell), in UTC so that
// its clock texts are known.
Outcome Qmtool(const std::string& arguments);
std::vector<uint8_t> ReadFile(const std::string& path);

// Decodes the file with ffmpeg and reads mkrec's stamp from every picture:
// the frame number, or -1 for a picture without a stamp of `channel`. Empty
// when ffmpeg says anything at all. The sound ffmpeg decodes must be as many
// samples as the header counts.
std::vector<int> DecodedFrames(const std::string& avi, int width, int height, int channel);

} // namespace qm::test
