#include "fuzz/fuzz_input.h"

#include <atomic>
#include <cstdio>
#include <unistd.h>

namespace qm::fuzz {
namespace {

std::atomic<size_t> s_delivered{0};

std::string ScratchDir() {
    return ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

} // namespace

std::string ScratchPath(const char* name) {
    return ScratchDir() + "/qmfuzz-" + std::to_string(::getpid()) + "-" + name;
}

void NoteDelivered(size_t count) {
    s_delivered += count;
}

size_t TakeDelivered() {
    return s_delivered.exchange(0);
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
