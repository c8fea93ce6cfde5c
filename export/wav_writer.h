#pragma once
// A WAV file of 16-bit mono PCM: the export's sound on its own, next to the
// AVI files. The sizes in the header are written when the file is closed.

#include <cstdint>
#include <cstdio>
#include <string>

namespace qm {

class OutputFiles;

class TWavWriter {
public:
    TWavWriter() = default;
    ~TWavWriter(); // closes an open file
    TWavWriter(const TWavWriter&) = delete;
    TWavWriter& operator=(const TWavWriter&) = delete;

    // Creates the file through `outputs`. False when it is refused or cannot
    // be created; Error() says why.
    bool Open(OutputFiles& outputs, const std::string& path, int sampleRate);
    // Appends samples; false once a write has failed or the file is full.
    bool Append(const uint8_t* pcm, size_t bytes);
    // Fills in the sizes and closes; false when anything failed.
    bool Close();

    bool IsOpen() const { return m_pFile != nullptr; }
    uint64_t DataBytes() const { return m_llDataBytes; }
    const std::string& Error() const { return m_strError; }

private:
    bool Fail(const std::string& what);

    FILE* m_pFile = nullptr;
    std::string m_strPath;
    uint64_t m_llDataBytes = 0;
    uint32_t m_nSampleRate = 8000;
    bool m_bFailed = false;
    std::string m_strError;
};

} // namespace qm
