#include "player/picture_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

namespace qm {

PictureBuffer::~PictureBuffer() {
    Free();
}

bool PictureBuffer::Allocate() {
    if (m_pData) return true;
    void* p = ::mmap(nullptr, kBytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return false;
    // Small pages only, whatever the system's huge page setting: with huge
    // pages a small picture would cost 2 MB of memory. A kernel without huge
    // pages refuses the advice, harmlessly.
    ::madvise(p, kBytes, MADV_NOHUGEPAGE);
    m_pData = static_cast<uint8_t*>(p);
    return true;
}

void PictureBuffer::Clear() {
    // Private anonymous pages read as zeros again after MADV_DONTNEED.
    if (m_pData) ::madvise(m_pData, kBytes, MADV_DONTNEED);
}

void PictureBuffer::ClearFrom(size_t offset) {
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    const size_t from = (offset + page - 1) / page * page;
    if (m_pData && from < kBytes) ::madvise(m_pData + from, kBytes - from, MADV_DONTNEED);
}

void PictureBuffer::Free() {
    if (m_pData) ::munmap(m_pData, kBytes);
    m_pData = nullptr;
}

} // namespace qm
