#pragma once
// One AVI file (RIFF "AVI ") holding the recording's compressed video frames
// exactly as recorded (no re-encoding) and a 16-bit mono PCM sound stream.
//
// WriteHeader opens the file with a placeholder header, WriteChunk appends
// "00dc" video and "01wb" sound chunks, WriteIndex appends idx1 and rewrites
// the header with the final counts. Recording gaps keep their real duration:
// when a frame comes later than the frame rate allows, empty "00db" index
// entries make players repeat the previous picture. One object is reused for
// file after file.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qm {

class OutputFiles;

// The first argument of WriteChunk: 0 to 2 are video and name the stream's
// compression, 3 and 4 are sound.
enum AviChunkKind : int {
    kAviVideoMpeg4 = 0, // "XVID"
    kAviVideoH264 = 1,  // "H264"
    kAviVideoMjpeg = 2, // "MJPG"
    kAviAudioAlt = 3,
    kAviAudio = 4,
};

// Result codes of WriteHeader, WriteChunk and WriteIndex.
constexpr int kAviOpenFailed = -3;
constexpr int kAviWriteFailed = -4;

constexpr int kAviHeaderBytes = 326; // everything before the first chunk
constexpr uint32_t kAviIndexKeyFrame = 0x10;
// The movi list's offsets are counted from its "movi" identifier, here.
constexpr uint32_t kAviMoviIdOffset = 322;
// A corrupt time stamp must not make the index grow without bound: a single
// gap is filled with at most one day of repeated pictures.
constexpr uint32_t kAviMaxGapSeconds = 86400;

struct AviIndexEntry {
    uint32_t id = 0; // four characters, little-endian
    uint32_t flags = 0;
    uint32_t offset = 0; // from the "movi" identifier
    uint32_t size = 0;
};

class CQMAvi {
public:
    // Every file is created through `outputs`, which must outlive the writer.
    explicit CQMAvi(OutputFiles& outputs) : m_outputs(outputs) {}
    // Completes an open file, as WriteIndex does.
    ~CQMAvi();
    CQMAvi(const CQMAvi&) = delete;
    CQMAvi& operator=(const CQMAvi&) = delete;

    // Opens `path` (when no file is open) and writes the header; when a file
    // is open, rewrites its header in place. startSubsecond is in
    // microseconds. 0, kAviOpenFailed (OpenError() says why) or
    // kAviWriteFailed.
    int WriteHeader(const std::string& path, int height, int width, uint32_t startSeconds,
                    uint32_t startSubsecond, int audioRate);
    // The chunk's padded size, 0 for an unknown kind (nothing written),
    // kAviWriteFailed on a failed write (the file stays open) or when the file
    // would outgrow the 32-bit RIFF sizes.
    int WriteChunk(int kind, uint32_t size, const uint8_t* data, uint32_t seconds,
                   uint32_t subsecond);
    // Writes the index, rewrites the header and closes the file. 0 when no file
    // is open or the file was completed, kAviWriteFailed otherwise (closed).
    int WriteIndex();

    // Frames per second of the next file; set before WriteHeader.
    void SetFrameRate(int fps) { m_nFps = fps > 0 ? fps : 1; }
    int FrameRate() const { return m_nFps; }

    bool IsOpen() const { return m_pFile != nullptr; }
    const std::string& OpenError() const { return m_strOpenError; }
    // Bytes the file holds so far, and the bytes the index would add.
    uint64_t BytesWritten() const { return m_llPosition; }
    uint64_t IndexBytes() const { return 8 + uint64_t(m_index.size()) * 16; }
    uint32_t VideoFrames() const { return m_nVideoFrames; }
    uint32_t AudioChunks() const { return m_nAudioChunks; }

private:
    bool Write(const void* data, size_t size);
    std::vector<uint8_t> BuildHeader() const;
    void CloseQuietly();

    OutputFiles& m_outputs;
    std::vector<AviIndexEntry> m_index;
    FILE* m_pFile = nullptr;
    std::string m_strOpenError;
    // The stream's buffer: stdio's own is one 4 KiB page, a system call for
    // every few frames. Outlives the stream it serves.
    std::vector<char> m_writeBuffer;
    uint32_t m_nRiffSize = 0;
    uint32_t m_nVideoFrames = 0; // empty entries included
    uint32_t m_nAudioChunks = 0;
    uint64_t m_llAudioBytes = 0;
    uint32_t m_nLastChunkSize = 0;
    uint32_t m_nLastChunkOffset = 0;
    uint32_t m_nMoviSize = 0;
    uint32_t m_nBaseTimeMs = 0; // milliseconds modulo 2^32; only differences are used
    uint32_t m_nFramesSinceBase = 0;
    int m_nAudioRate = 8000;
    int m_nFps = 30;
    int m_nWidth = 704;
    int m_nHeight = 480;
    int m_nVideoKind = -1; // kind of the first video chunk, -1 none yet
    uint64_t m_llPosition = 0;
    bool m_bWriteFailed = false;
};

} // namespace qm
