#pragma once
// One camera's pictures copied into an MP4 or Matroska file through
// libavformat, without re-encoding: H.264 stays H.264, the recorders' MPEG-4
// stays MPEG-4 Part 2 and MJPEG stays MJPEG. Every picture is placed at its
// recorded time, in milliseconds from the file's first picture, so the gaps
// of the recording stay gaps. A subtitle track shows the recorder's clock,
// one cue per recorded second. The decoded sound (16-bit, 8000 Hz mono) goes
// with them: as PCM in Matroska, each frame's samples starting at its
// picture; as ALAC in MP4, which takes no PCM (see alac_sound.h).
//
// A change of picture size does not start a new file: the new parameter
// sets (or JPEG headers) travel in the key frames, which players follow.

#include "export/export_frame.h"
#include "export/export_hooks.h"
#include "platform/recorded_time.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;
struct AVStream;

namespace qm {

class OutputFiles;
class TAlacSound;

enum class ExportFormat { kAvi, kMp4, kMkv };

// "avi", "mp4", "mkv" in any case; nullopt for anything else.
std::optional<ExportFormat> ExportFormatFromName(std::string_view name);
const char* ExportFormatExtension(ExportFormat format); // "avi", "mp4", "mkv"

struct MediaWriterSettings {
    ExportFormat format = ExportFormat::kMp4;
    int channel = 0; // 0-31, for the hooks
    bool withAudio = true;
    ClockView clock; // the clock the subtitles show
    const ExportHooks* hooks = nullptr;
};

class TMediaWriter {
public:
    TMediaWriter(OutputFiles& outputs, MediaWriterSettings settings);
    ~TMediaWriter();
    TMediaWriter(const TMediaWriter&) = delete;
    TMediaWriter& operator=(const TMediaWriter&) = delete;

    // The file is created when the first key frame arrives; pictures before
    // it could not be decoded and are passed over. False with Error().
    bool Write(const ExportFrame& frame, const std::string& path);
    // Finishes the file; false with Error(). Without a key frame nothing was
    // written and nothing is created.
    bool Close();

    bool Opened() const { return m_pContext != nullptr; }
    uint64_t Pictures() const { return m_nPictures; }
    const std::string& Error() const { return m_strError; }

private:
    bool Open(const ExportFrame& first, const std::string& path);
    bool WriteVideo(const ExportFrame& frame, int64_t pts);
    bool WriteSound(const ExportFrame& frame, int64_t pts);
    bool SendAlac(AVPacket* packet);
    bool WriteClock(int64_t recordedMs);
    bool Send(AVPacket* packet, const char* what);
    bool FlushHeldPicture(std::optional<int64_t> nextPts);
    bool Fail(const std::string& error);
    void Release();
    static int WriteBytes(void* opaque, uint8_t* data, int size);
    static int64_t SeekBytes(void* opaque, int64_t offset, int whence);

    OutputFiles& m_outputs;
    MediaWriterSettings m_settings;
    std::string m_path;
    FILE* m_file = nullptr;
    bool m_bWriteFailed = false;
    AVFormatContext* m_pContext = nullptr;
    AVIOContext* m_pIo = nullptr;
    AVStream* m_pVideo = nullptr;
    AVStream* m_pSound = nullptr;
    std::unique_ptr<TAlacSound> m_pAlac; // MP4's sound
    AVStream* m_pClock = nullptr;
    int64_t m_llFirstMs = 0; // recorded time of the first picture
    int64_t m_llLastPts = -1;
    int64_t m_llLastMs = 0;
    int64_t m_llLastCueSecond = -1;
    int64_t m_llLastDuration = 40;
    // The latest picture waits for the next, whose time gives its duration.
    std::vector<uint8_t> m_held;
    int64_t m_llHeldPts = -1;
    bool m_bHeldKey = false;
    uint64_t m_nPictures = 0;
    std::string m_strError;
};

// The decoder set-up a player needs before the first picture, taken from a
// key frame: H.264 sequence and picture parameter sets (Annex B), or the
// MPEG-4 headers before the first picture. Empty when there is none.
std::vector<uint8_t> VideoExtradata(int videoKind, const uint8_t* data, size_t size);

} // namespace qm
