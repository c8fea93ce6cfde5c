#pragma once
// Helpers shared by the fuzz targets: the input handed over as a file for the
// parsers that only read from a path or a descriptor, and a cursor that takes
// small parameters off the front of the input.

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm::fuzz {

// Writes the input to a file of this process on tmpfs (/dev/shm, else /tmp)
// and removes it again when the object goes.
class InputFile {
public:
    InputFile(const uint8_t* data, size_t size, const char* suffix = ".avr");
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool Ok() const { return m_bOk; }
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
    bool m_bOk = false;
};

// A path next to the input files for output the target writes and discards.
std::string ScratchPath(const char* name);

} // namespace qm::fuzz
