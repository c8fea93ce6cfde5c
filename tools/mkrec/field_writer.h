#pragma once
// Writes the fields of one on-disk record in the recording's byte order.
// A big-endian recording converts only some fields; the others stay
// little-endian whatever the recording's order, so every field is written
// through the call that names its kind.

#include "platform/byte_order.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qm::mkrec {

class FieldWriter {
public:
    FieldWriter(uint8_t* record, bool bigEndian) : m_p(record), m_big(bigEndian) {}

    void u8(size_t off, uint8_t v) { m_p[off] = v; }
    // Fields the reader never converts.
    void raw16(size_t off, uint16_t v) { storeLE16(m_p + off, v); }
    void raw32(size_t off, uint32_t v) { storeLE32(m_p + off, v); }
    // Fields converted in a big-endian recording.
    void conv16(size_t off, uint16_t v) {
        m_big ? storeBE16(m_p + off, v) : storeLE16(m_p + off, v);
    }
    void conv32(size_t off, uint32_t v) {
        m_big ? storeBE32(m_p + off, v) : storeLE32(m_p + off, v);
    }
    void conv64(size_t off, uint64_t v) {
        m_big ? storeBE64(m_p + off, v) : storeLE64(m_p + off, v);
    }
    // A 4-byte field that a big-endian reader takes as a 16-bit number from its
    // first two bytes; the value must then fit in 16 bits.
    void conv16of32(size_t off, uint32_t v) {
        if (m_big) {
            storeBE16(m_p + off, uint16_t(v));
            storeLE16(m_p + off + 2, 0);
        } else {
            storeLE32(m_p + off, v);
        }
    }
    void bytes(size_t off, const void* src, size_t n) { std::memcpy(m_p + off, src, n); }

private:
    uint8_t* m_p;
    bool m_big;
};

} // namespace qm::mkrec
