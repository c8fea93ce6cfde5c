#pragma once
// One block of the sound output: a single allocation holding a length word,
// the device's 32-byte buffer header and the samples, reused from block to
// block. Its capacity grows in steps of 8192 bytes and never shrinks, so
// steady playback allocates nothing.
//
//   offset 0   4 bytes   n = 32 + sample bytes, little-endian
//   offset 4   32 bytes  buffer header for the device
//   offset 36            the samples

#include <atomic>
#include <cstdint>

namespace qm {

class TSysData {
public:
    static constexpr uint32_t kLengthWordBytes = 4;
    static constexpr uint32_t kHeaderBytes = 32;
    static constexpr uint32_t kCapacityStep = 8192;
    // Largest n Alloc accepts.
    static constexpr uint32_t kMaxAlloc = 1u << 30;

    TSysData();
    virtual ~TSysData();
    TSysData(const TSysData&) = delete;
    TSysData& operator=(const TSysData&) = delete;

    // Makes room for n bytes after the length word: when n + 4 exceeds the
    // capacity, the memory is replaced by a block of the smallest multiple of
    // 8192 bytes strictly greater than n + 4. Sets the size to n, stores n in
    // the length word and returns the address just after it. Null when n is
    // smaller than the header or too large (the block is unchanged), or when
    // memory cannot be had (the block is then empty).
    uint8_t* Alloc(uint32_t n);

    uint32_t Capacity() const { return m_nCapacity; }
    uint32_t Size() const { return m_nSize; }
    uint32_t HeaderSize() const { return m_nHeaderSize; }
    uint8_t* Memory() const { return m_pMemory; }
    uint8_t* Header() const { return m_pMemory + kLengthWordBytes; }
    uint8_t* Samples() const { return m_pMemory + kLengthWordBytes + kHeaderBytes; }
    uint32_t SampleBytes() const { return m_nSize - m_nHeaderSize; }

    // Blocks alive in the process, for leak checks.
    static int LiveBlocks() { return s_nLive.load(std::memory_order_relaxed); }

private:
    uint32_t m_nCapacity = 0;
    uint32_t m_nSize = 0;
    uint32_t m_nHeaderSize = kHeaderBytes;
    uint8_t* m_pMemory = nullptr;

    static std::atomic<int> s_nLive;
};

} // namespace qm
