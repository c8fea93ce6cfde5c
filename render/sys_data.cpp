#include "render/sys_data.h"

#include "platform/byte_order.h"

#include <cstdlib>

namespace qm {

std::atomic<int> TSysData::s_nLive{0};

TSysData::TSysData() {
    s_nLive.fetch_add(1, std::memory_order_relaxed);
}

TSysData::~TSysData() {
    std::free(m_pMemory);
    s_nLive.fetch_sub(1, std::memory_order_relaxed);
}

uint8_t* TSysData::Alloc(uint32_t n) {
    if (n < m_nHeaderSize || n > kMaxAlloc) return nullptr;
    const uint64_t needed = uint64_t(n) + kLengthWordBytes;
    if (needed > m_nCapacity) {
        std::free(m_pMemory);
        const uint64_t capacity = (needed / kCapacityStep + 1) * kCapacityStep;
        m_pMemory = static_cast<uint8_t*>(std::malloc(capacity));
        m_nCapacity = m_pMemory ? uint32_t(capacity) : 0;
        m_nSize = 0;
        if (!m_pMemory) return nullptr;
    }
    m_nSize = n;
    m_nHeaderSize = kHeaderBytes;
    storeLE32(m_pMemory, n);
    return m_pMemory + kLengthWordBytes;
}

} // namespace qm
