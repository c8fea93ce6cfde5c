#pragma once
// Explicit little/big-endian access to raw recording bytes. Every fixed record
// is read through these helpers, never by casting a struct over the buffer.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qm {

inline uint16_t loadLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint16_t loadBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t loadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t loadBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint64_t loadLE64(const uint8_t* p) { return loadLE32(p) | (uint64_t(loadLE32(p + 4)) << 32); }
inline uint64_t loadBE64(const uint8_t* p) { return (uint64_t(loadBE32(p)) << 32) | loadBE32(p + 4); }

inline void storeLE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void storeBE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void storeLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void storeBE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}
inline void storeLE64(uint8_t* p, uint64_t v) {
    storeLE32(p, uint32_t(v));
    storeLE32(p + 4, uint32_t(v >> 32));
}
inline void storeBE64(uint8_t* p, uint64_t v) {
    storeBE32(p, uint32_t(v >> 32));
    storeBE32(p + 4, uint32_t(v));
}

// Bounds-checked view over a byte range. Every accessor returns std::nullopt
// (or false) instead of reading past the end, so a truncated or corrupted
// record can never take the reader outside its buffer.
class ByteView {
public:
    ByteView() = default;
    ByteView(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    explicit ByteView(std::span<const uint8_t> s) : m_data(s.data()), m_size(s.size()) {}

    size_t size() const { return m_size; }
    const uint8_t* data() const { return m_data; }
    bool has(size_t offset, size_t length) const {
        return offset <= m_size && length <= m_size - offset;
    }
    std::optional<ByteView> sub(size_t offset, size_t length) const {
        if (!has(offset, length)) return std::nullopt;
        return ByteView(m_data + offset, length);
    }
    std::optional<uint8_t> u8(size_t off) const {
        if (!has(off, 1)) return std::nullopt;
        return m_data[off];
    }
    std::optional<uint16_t> le16(size_t off) const {
        if (!has(off, 2)) return std::nullopt;
        return loadLE16(m_data + off);
    }
    std::optional<uint16_t> be16(size_t off) const {
        if (!has(off, 2)) return std::nullopt;
        return loadBE16(m_data + off);
    }
    std::optional<uint32_t> le32(size_t off) const {
        if (!has(off, 4)) return std::nullopt;
        return loadLE32(m_data + off);
    }
    std::optional<uint32_t> be32(size_t off) const {
        if (!has(off, 4)) return std::nullopt;
        return loadBE32(m_data + off);
    }
    std::optional<uint64_t> le64(size_t off) const {
        if (!has(off, 8)) return std::nullopt;
        return loadLE64(m_data + off);
    }
    std::optional<uint64_t> be64(size_t off) const {
        if (!has(off, 8)) return std::nullopt;
        return loadBE64(m_data + off);
    }

private:
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

} // namespace qm
