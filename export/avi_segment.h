#pragma once
// The export's segment driver: writes one AVI file from a frame reader, from
// its first key frame until the data ends or the picture size changes. A size
// change closes the file and keeps the frame that changed it for the next
// segment, so no frame is lost between the numbered files.

#include "export/avi_writer.h"
#include "export/export_frame.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace qm {

enum SaveAviSegmentResult : int {
    kSegmentDataEnded = 1,   // the data ended; the file is complete
    kSegmentSizeChanged = 2, // the picture size changed (or the file is full): the file is
                             // complete and the next frame starts another
    kSegmentFailed = -1,
    kSegmentNoFrame = -2, // the data ended before a key frame could start the file
};

constexpr int kExportAudioRate = 8000;
// A file is closed at the next key frame once it would grow past this, well
// before its 32-bit sizes run out; frames between key frames may add up to
// kAviSegmentSlack more before the file is closed anyway.
constexpr uint64_t kAviSegmentByteLimit = 0xF0000000u;
constexpr uint64_t kAviSegmentSlack = uint64_t(128) << 20;

struct SegmentSettings {
    bool withAudio = true;
    std::atomic<int>* percent = nullptr; // set to 100 when the data ends
    std::function<void()> segmentStarted;
    // Every frame written, whatever withAudio says; for a separate sound file.
    std::function<void(const ExportFrame&)> frameWritten;
    uint64_t byteLimit = kAviSegmentByteLimit;
};

class TAviSegmentDriver {
public:
    TAviSegmentDriver(CQMAvi& avi, IExportFrameReader& reader, ExportFrame& frame,
                      SegmentSettings settings);

    int SaveAviSegment(const std::string& path);

    // Whether the last SaveAviSegment created its file (it stays on disk).
    bool OpenedFile() const { return m_bOpened; }
    // The reader's result that ended the last segment.
    int LastReadResult() const { return m_nLastRead; }
    const std::string& Error() const { return m_strError; }

private:
    int WriteFrame();
    int Close(int result);
    int Abandon(const std::string& error);
    bool EndsSegment(int width, int height) const;

    CQMAvi& m_avi;
    IExportFrameReader& m_reader;
    ExportFrame& m_frame;
    SegmentSettings m_settings;
    bool m_bPending = false; // m_frame holds the frame that ended the previous segment
    bool m_bOpened = false;
    int m_nLastRead = 0;
    std::string m_strError;
};

} // namespace qm
