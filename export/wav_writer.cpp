#include "export/wav_writer.h"

#include "platform/byte_order.h"
#include "platform/output_files.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace qm {

namespace {

constexpr size_t kWavHeaderBytes = 44;
// The RIFF size must stay within 32 bits.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFu - (kWavHeaderBytes - 8) - 1;

std::array<uint8_t, kWavHeaderBytes> WavHeader(uint32_t dataBytes, uint32_t sampleRate) {
    std::array<uint8_t, kWavHeaderBytes> h{};
    std::memcpy(h.data(), "RIFF", 4);
    storeLE32(h.data() + 4, uint32_t(kWavHeaderBytes - 8) + dataBytes + (dataBytes & 1));
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    storeLE32(h.data() + 16, 16);
    storeLE16(h.data() + 20, 1); // PCM
    storeLE16(h.data() + 22, 1); // mono
    storeLE32(h.data() + 24, sampleRate);
    storeLE32(h.data() + 28, sampleRate * 2);
    storeLE16(h.data() + 32, 2);
    storeLE16(h.data() + 34, 16);
    std::memcpy(h.data() + 36, "data", 4);
    storeLE32(h.data() + 40, dataBytes);
    return h;
}

} // namespace

TWavWriter::~TWavWriter() {
    if (m_pFile) Close();
}

bool TWavWriter::Fail(const std::string& what) {
    if (!m_bFailed) m_strError = m_strPath + ": " + what;
    m_bFailed = true;
    return false;
}

bool TWavWriter::Open(OutputFiles& outputs, const std::string& path, int sampleRate) {
    if (m_pFile) Close();
    m_strPath = path;
    m_llDataBytes = 0;
    m_bFailed = false;
    m_strError.clear();
    std::string error;
    m_pFile = outputs.Create(path, error);
    if (!m_pFile) {
        m_strError = error;
        m_bFailed = true;
        return false;
    }
    // The sample rate goes in now; the sizes when the file is closed.
    m_nSampleRate = uint32_t(sampleRate);
    const auto header = WavHeader(0, m_nSampleRate);
    if (std::fwrite(header.data(), 1, header.size(), m_pFile) != header.size())
        return Fail(std::strerror(errno));
    return true;
}

bool TWavWriter::Append(const uint8_t* pcm, size_t bytes) {
    if (!m_pFile || m_bFailed) return false;
    if (m_llDataBytes + bytes > kMaxDataBytes) return Fail("the sound is too long for a WAV file");
    if (bytes && std::fwrite(pcm, 1, bytes, m_pFile) != bytes) return Fail(std::strerror(errno));
    m_llDataBytes += bytes;
    return true;
}

bool TWavWriter::Close() {
    if (!m_pFile) return !m_bFailed;
    const uint32_t data = uint32_t(m_llDataBytes);
    if (!m_bFailed && (data & 1)) {
        const uint8_t pad = 0; // RIFF chunks are padded to even sizes
        if (std::fwrite(&pad, 1, 1, m_pFile) != 1) Fail(std::strerror(errno));
    }
    if (!m_bFailed) {
        const auto header = WavHeader(data, m_nSampleRate);
        if (std::fseek(m_pFile, 0, SEEK_SET) != 0 ||
            std::fwrite(header.data(), 1, header.size(), m_pFile) != header.size())
            Fail(std::strerror(errno));
    }
    // Buffered writes report a full disk only when they are flushed.
    if (std::fclose(m_pFile) != 0) Fail(std::strerror(errno));
    m_pFile = nullptr;
    return !m_bFailed;
}

} // namespace qm
