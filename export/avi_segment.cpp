#include "export/avi_segment.h"

#include "platform/diagnostics.h"

#include <utility>

namespace qm {

TAviSegmentDriver::TAviSegmentDriver(CQMAvi& avi, IExportFrameReader& reader, ExportFrame& frame,
                                     SegmentSettings settings)
    : m_avi(avi), m_reader(reader), m_frame(frame), m_settings(std::move(settings)) {}

int TAviSegmentDriver::WriteFrame() {
    const ExportFrame& f = m_frame;
    const ByteView video = f.Video();
    int r =
        m_avi.WriteChunk(f.videoKind, uint32_t(video.size()), video.data(), f.seconds, f.subsecond);
    if (r < 0) return r;
    if (f.hasAudio && !f.audio.empty() && m_settings.withAudio) {
        r = m_avi.WriteChunk(kAviAudio, uint32_t(f.audio.size()), f.audio.data(), f.seconds,
                             f.subsecond);
        if (r < 0) return r;
    }
    if (m_settings.frameWritten) m_settings.frameWritten(f);
    return 0;
}

int TAviSegmentDriver::Close(int result) {
    if (m_avi.WriteIndex() == 0) return result;
    m_strError = "the AVI file could not be completed";
    return kSegmentFailed;
}

int TAviSegmentDriver::Abandon(const std::string& error) {
    // Complete what was written, so the file stays playable and the writer
    // holds no file that the next segment would write into.
    m_avi.WriteIndex();
    m_strError = error;
    return kSegmentFailed;
}

bool TAviSegmentDriver::EndsSegment(int width, int height) const {
    if (m_frame.width != width || m_frame.height != height) return true;
    const uint64_t projected =
        m_avi.BytesWritten() + m_avi.IndexBytes() + 32 + m_frame.length + m_frame.audio.size();
    if (projected <= m_settings.byteLimit) return false;
    return m_frame.key || projected > m_settings.byteLimit + kAviSegmentSlack;
}

int TAviSegmentDriver::SaveAviSegment(const std::string& path) {
    m_bOpened = false;
    m_strError.clear();
    if (m_settings.segmentStarted) m_settings.segmentStarted();

    // The frame that ended the previous segment opens this one; when it is
    // not a key frame the segment starts at the next key frame instead.
    bool have = m_bPending && m_frame.key;
    m_bPending = false;
    while (!have) {
        const int r = m_reader.ReadFrame(m_frame);
        m_nLastRead = r;
        if (r <= 0) {
            if (r != kExportEnd) m_strError = "reading the recording failed";
            return kSegmentNoFrame;
        }
        have = m_frame.key;
    }

    const int width = m_frame.width;
    const int height = m_frame.height;
    m_avi.SetFrameRate(height == 576 || height == 288 ? 25 : 30);
    if (m_avi.WriteHeader(path, height, width, m_frame.seconds, m_frame.subsecond,
                          kExportAudioRate) != 0) {
        qmLog(" != S_OK\n");
        m_strError = m_avi.OpenError().empty() ? "cannot create " + path : m_avi.OpenError();
        return kSegmentFailed;
    }
    m_bOpened = true;
    if (WriteFrame() < 0) return Abandon("writing " + path + " failed");

    for (;;) {
        const int r = m_reader.ReadFrame(m_frame);
        m_nLastRead = r;
        if (r == kExportEnd) {
            qmLog("\n---END OF FILE ---\n");
            if (m_settings.percent) m_settings.percent->store(100);
            return Close(kSegmentDataEnded);
        }
        if (r < 0) return Abandon("reading the recording failed");
        if (EndsSegment(width, height)) {
            m_bPending = true;
            return Close(kSegmentSizeChanged);
        }
        if (WriteFrame() < 0) return Abandon("writing " + path + " failed");
    }
}

} // namespace qm
