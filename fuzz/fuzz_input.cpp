#include "fuzz/fuzz_input.h"

#include <cstdio>
#include <unistd.h>

namespace qm::fuzz {
namespace {

std::string ScratchDir() {
    return ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

} // namespace

std::string ScratchPath(const char* name) {
    return ScratchDir() + "/qmfuzz-" + std::to_string(::getpid()) + "-" + name;
}

InputFile::InputFile(const uint8_t* data, size_t size, const char* suffix)
    : m_strPath(ScratchPath("input") + suffix) {
    std::FILE* f = std::fopen(m_strPath.c_str(), "wb");
    if (!f) return;
    m_bOk = size == 0 || std::fwrite(data, 1, size, f) == size;
    m_bOk = std::fclose(f) == 0 && m_bOk;
}

InputFile::~InputFile() {
    std::remove(m_strPath.c_str());
}

} // namespace qm::fuzz
