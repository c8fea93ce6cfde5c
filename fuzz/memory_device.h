#pragma once
// A DVR disk held in memory, for the targets that read through IRawDevice.
// Reads past the end fail as a short device would.

#include "platform/raw_device.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qm::fuzz {

class MemoryDevice : public IRawDevice {
public:
    MemoryDevice(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    int Read(void* buffer, uint64_t offset, size_t length) override {
        if (offset > m_size || length > m_size - offset) return EIO;
        if (length) std::memcpy(buffer, m_data + offset, length);
        return 0;
    }
    uint64_t Size() const override { return m_size; }

private:
    const uint8_t* m_data;
    size_t m_size;
};

} // namespace qm::fuzz
