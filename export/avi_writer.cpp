#include "export/avi_writer.h"

#include "platform/byte_order.h"
#include "platform/diagnostics.h"
#include "platform/output_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace qm {

namespace {

constexpr size_t kWriteBufferBytes = 256 * 1024;

constexpr uint32_t Tag(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | (uint32_t(uint8_t(s[1])) << 8) |
           (uint32_t(uint8_t(s[2])) << 16) | (uint32_t(uint8_t(s[3])) << 24);
}

uint32_t VideoFourcc(int videoKind) {
    switch (videoKind) {
    case kAviVideoMpeg4:
        return Tag("XVID");
    case kAviVideoH264:
        return Tag("H264");
    default:
        return Tag("MJPG");
    }
}

constexpr uint32_t kMaxBytesPerSecond = 564252;
constexpr uint32_t kSuggestedVideoBuffer = 96517;
constexpr uint32_t kSuggestedAudioBuffer = 16;
constexpr uint32_t kAviFlags = 0x810; // AVIF_HASINDEX | AVIF_TRUSTCKTYPE
constexpr uint32_t kRiffLimit = 0xFFFFFFFFu;

// Little-endian field writer over the fixed header.
class HeaderWriter {
public:
    explicit HeaderWriter(std::vector<uint8_t>& out) : m_out(out) {}
    void tag(const char (&s)[5]) { u32(Tag(s)); }
    void u32(uint32_t v) {
        uint8_t b[4];
        storeLE32(b, v);
        m_out.insert(m_out.end(), b, b + 4);
    }
    void u16(uint16_t v) {
        uint8_t b[2];
        storeLE16(b, v);
        m_out.insert(m_out.end(), b, b + 2);
    }
    void zeros(size_t n) { m_out.insert(m_out.end(), n, 0); }

private:
    std::vector<uint8_t>& m_out;
};

} // namespace

CQMAvi::~CQMAvi() {
    if (m_pFile) WriteIndex();
}

bool CQMAvi::Write(const void* data, size_t size) {
    if (size == 0) return true;
    const size_t n = std::fwrite(data, 1, size, m_pFile);
    m_llPosition += n;
    return n == size;
}

void CQMAvi::CloseQuietly() {
    if (m_pFile) std::fclose(m_pFile);
    m_pFile = nullptr;
}

std::vector<uint8_t> CQMAvi::BuildHeader() const {
    std::vector<uint8_t> out;
    out.reserve(kAviHeaderBytes);
    HeaderWriter w(out);
    const uint32_t fourcc = VideoFourcc(m_nVideoKind);
    const uint32_t width = uint32_t(int32_t(int16_t(m_nWidth)));
    const uint32_t height = uint32_t(int32_t(int16_t(m_nHeight)));
    const uint32_t fps = uint32_t(m_nFps);

    w.tag("RIFF");
    w.u32(m_nRiffSize);
    w.tag("AVI ");
    w.tag("LIST");
    w.u32(294);
    w.tag("hdrl");

    w.tag("avih");
    w.u32(56);
    w.u32((fps * 100 / 2 + 100000000) / (fps * 100)); // microseconds per frame, rounded
    w.u32(kMaxBytesPerSecond);
    w.u32(0); // padding granularity
    w.u32(kAviFlags);
    w.u32(m_nVideoFrames);
    w.u32(0); // initial frames
    w.u32(2); // streams
    w.u32(kSuggestedVideoBuffer);
    w.u32(width);
    w.u32(height);
    w.zeros(16);

    w.tag("LIST");
    w.u32(116);
    w.tag("strl");
    w.tag("strh");
    w.u32(56);
    w.tag("vids");
    w.u32(fourcc);
    w.u32(0);   // flags
    w.u16(0);   // priority
    w.u16(0);   // language
    w.u32(0);   // initial frames
    w.u32(100); // scale
    w.u32(fps * 100);
    w.u32(0); // start
    w.u32(m_nVideoFrames);
    w.u32(kSuggestedVideoBuffer);
    w.u32(0); // quality
    w.u32(0); // sample size
    w.u16(0);
    w.u16(0);
    w.u16(uint16_t(width));
    w.u16(uint16_t(height));
    w.tag("strf");
    w.u32(40);
    w.u32(40);
    w.u32(width);
    w.u32(height);
    w.u16(1);  // planes
    w.u16(24); // bits per pixel
    w.u32(fourcc);
    w.u32(width * height * 3);
    w.zeros(16); // resolutions, colours used, colours important

    w.tag("LIST");
    w.u32(94);
    w.tag("strl");
    w.tag("strh");
    w.u32(56);
    w.tag("auds");
    w.u32(0); // handler
    w.u32(0); // flags
    w.u16(0);
    w.u16(0);
    w.u32(0); // initial frames
    w.u32(2); // scale: one 2-byte sample per unit
    w.u32(2 * uint32_t(m_nAudioRate));
    w.u32(0); // start
    // The length counts samples (units of scale / rate), as players expect.
    w.u32(uint32_t(std::min<uint64_t>(m_llAudioBytes / 2, kRiffLimit)));
    w.u32(kSuggestedAudioBuffer);
    w.u32(0); // quality
    w.u32(2); // sample size
    w.zeros(8);
    w.tag("strf");
    w.u32(18);
    w.u16(1); // PCM
    w.u16(1); // mono
    w.u32(uint32_t(m_nAudioRate));
    w.u32(2 * uint32_t(m_nAudioRate));
    w.u16(2);  // block align
    w.u16(16); // bits per sample
    w.u16(0);  // extra size

    w.tag("LIST");
    w.u32(m_nMoviSize);
    w.tag("movi");
    return out;
}

int CQMAvi::WriteHeader(const std::string& path, int height, int width, uint32_t startSeconds,
                        uint32_t startSubsecond, int audioRate) {
    m_nWidth = int16_t(width);
    m_nHeight = int16_t(height);
    m_nAudioRate = audioRate;
    if (!m_pFile) {
        m_index.clear();
        m_nRiffSize = m_nVideoFrames = m_nAudioChunks = 0;
        m_nLastChunkSize = m_nLastChunkOffset = m_nMoviSize = m_nFramesSinceBase = 0;
        m_llAudioBytes = 0;
        m_llPosition = 0;
        m_bWriteFailed = false;
        m_strOpenError.clear();
        m_pFile = m_outputs.Create(path, m_strOpenError);
        if (!m_pFile) {
            qmLog("CQMAvi::WriteHeader:fopen failed-%s\n", std::strerror(errno));
            return kAviOpenFailed;
        }
        try {
            m_writeBuffer.resize(kWriteBufferBytes);
            std::setvbuf(m_pFile, m_writeBuffer.data(), _IOFBF, m_writeBuffer.size());
        } catch (const std::bad_alloc&) {
            // stdio's own buffer does the job, only with more system calls.
        }
    }
    const uint64_t keep = m_llPosition;
    if (std::fseek(m_pFile, 0, SEEK_SET) != 0) {
        qmLog("CQMAvi::WriteHeader:fseek failed-%s\n", std::strerror(errno));
        m_index.clear();
        CloseQuietly();
        return kAviOpenFailed;
    }
    const std::vector<uint8_t> header = BuildHeader();
    m_llPosition = 0;
    if (!Write(header.data(), header.size())) {
        CloseQuietly();
        return kAviWriteFailed;
    }
    m_llPosition = std::max(keep, m_llPosition);
    m_nBaseTimeMs = startSeconds * 1000u + startSubsecond / 1000u;
    m_nVideoKind = -1;
    return 0;
}

int CQMAvi::WriteChunk(int kind, uint32_t size, const uint8_t* data, uint32_t seconds,
                       uint32_t subsecond) {
    uint32_t id;
    const bool audio = kind == kAviAudioAlt || kind == kAviAudio;
    if (audio) {
        id = Tag("01wb");
    } else if (kind >= kAviVideoMpeg4 && kind <= kAviVideoMjpeg) {
        id = Tag("00dc");
    } else {
        return 0;
    }
    if (!m_pFile || (!data && size)) return kAviWriteFailed;

    const uint32_t padded = size + (size & 1);
    // Pacing: how many pictures the frame rate expects since the base.
    const uint32_t t = seconds * 1000u + subsecond / 1000u;
    const int64_t elapsed = int32_t(t - m_nBaseTimeMs);
    const int64_t expected = int64_t(m_nFps) * elapsed / 1000;
    int64_t missing = expected - int64_t(m_nFramesSinceBase);
    missing = std::clamp<int64_t>(missing, 0, int64_t(m_nFps) * kAviMaxGapSeconds);

    // Every size in the file is 32-bit: refuse a chunk that would overflow them.
    const uint64_t after = m_llPosition + 8 + padded + IndexBytes() + 16 * uint64_t(missing + 1);
    if (padded < size || after > kRiffLimit) {
        qmLog("CQMAvi::WriteChunk:file size limit reached\n");
        m_bWriteFailed = true;
        return kAviWriteFailed;
    }

    uint8_t head[8];
    storeLE32(head, id);
    storeLE32(head + 4, padded);
    const uint8_t pad = 0;
    if (!Write(head, sizeof head) || !Write(data, size) || ((size & 1) && !Write(&pad, 1))) {
        m_bWriteFailed = true;
        return kAviWriteFailed;
    }

    const uint32_t offset = m_index.empty() ? 4 : m_nLastChunkOffset + m_nLastChunkSize + 8;
    m_nLastChunkOffset = offset;
    m_nLastChunkSize = padded;

    for (int64_t i = 0; i < missing; ++i) {
        m_index.push_back({Tag("00db"), 0, offset, 0});
        ++m_nVideoFrames;
        ++m_nFramesSinceBase;
    }
    if (elapsed > 10000) {
        m_nBaseTimeMs = t;
        m_nFramesSinceBase = 0;
    }
    m_index.push_back({id, kAviIndexKeyFrame, offset, padded});
    if (audio) {
        ++m_nAudioChunks;
        m_llAudioBytes += size;
    } else {
        if (m_nVideoKind == -1) m_nVideoKind = kind;
        ++m_nVideoFrames;
        ++m_nFramesSinceBase;
    }
    return int(padded);
}

int CQMAvi::WriteIndex() {
    if (!m_pFile) return 0;
    qmLog("WriteIndex!\n");
    m_nMoviSize = uint32_t(m_llPosition - kAviMoviIdOffset);

    std::vector<uint8_t> bytes(8 + m_index.size() * 16);
    storeLE32(bytes.data(), Tag("idx1"));
    storeLE32(bytes.data() + 4, uint32_t(m_index.size() * 16));
    uint8_t* p = bytes.data() + 8;
    for (const AviIndexEntry& e : m_index) {
        storeLE32(p, e.id);
        storeLE32(p + 4, e.flags);
        storeLE32(p + 8, e.offset);
        storeLE32(p + 12, e.size);
        p += 16;
    }
    if (!Write(bytes.data(), bytes.size())) {
        m_index.clear();
        CloseQuietly();
        return kAviWriteFailed;
    }
    m_nRiffSize = uint32_t(m_llPosition - 8);

    const int header = WriteHeader(std::string(), m_nHeight, m_nWidth, 0, 0, m_nAudioRate);
    m_index.clear();
    m_index.shrink_to_fit();
    if (header != 0) return kAviWriteFailed; // WriteHeader closed the file
    // Buffered writes report a full disk only when they are flushed.
    const bool closed = std::fclose(m_pFile) == 0;
    m_pFile = nullptr;
    return closed && !m_bWriteFailed ? 0 : kAviWriteFailed;
}

} // namespace qm
