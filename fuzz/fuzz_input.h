#pragma once
// Helpers shared by the fuzz targets: the input handed over as a file for the
// parsers that only read from a path or a descriptor, and the count of what a
// target got through for the input.

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

// What a target carried all the way through for the input being run: frames
// delivered (the readers) or records recognised (the record parsers). The
// replay of the committed seeds checks that every well-formed seed, one whose
// name begins with "good-", delivered something, so a reader that refuses
// everything cannot pass it. libFuzzer runs never read the count.
void NoteDelivered(size_t count = 1);
// The count since the last call, which starts it again from zero.
size_t TakeDelivered();

} // namespace qm::fuzz
