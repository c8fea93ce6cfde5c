#pragma once
// A channel's picture buffer: room for the largest picture (2048 x 1536 x 4
// bytes) that reads as zeros until a picture is decoded into it. The memory is
// reserved as anonymous zero pages, so a buffer costs only the pages that a
// decoded picture actually wrote, and clearing hands those pages back.

#include <cstddef>
#include <cstdint>

namespace qm {

class PictureBuffer {
public:
    static constexpr size_t kBytes = 12582912;

    PictureBuffer() = default;
    ~PictureBuffer();
    PictureBuffer(const PictureBuffer&) = delete;
    PictureBuffer& operator=(const PictureBuffer&) = delete;

    // Reserves the buffer if it has none; false when the system refuses.
    bool Allocate();
    // Makes the whole buffer read as zeros again, releasing its pages.
    void Clear();
    // The same for the whole pages from `offset` on: a smaller picture
    // hands back what a larger one used.
    void ClearFrom(size_t offset);
    void Free();

    uint8_t* Data() const { return m_pData; }
    bool IsAllocated() const { return m_pData != nullptr; }

private:
    uint8_t* m_pData = nullptr;
};

} // namespace qm
