#include "disk_test_support.h"

#include "reader_test_support.h"
#include "tools/mkrec/recording_generator.h"
#include "tools/mkrec/video_encoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

namespace qm::test {

mkrec::RecordingPlan DiskPlan() {
    mkrec::RecordingPlan plan;
    plan.channels = {0, 1, 2};
    plan.durationSeconds = 16;
    plan.fps = 8;
    plan.gop = 4;
    plan.defaultSize = {176, 144};
    plan.blockSize = 32768;
    plan.quality = 40;
    return plan;
}

DiskImage WriteDiskImage(const mkrec::RecordingPlan& plan, const mkrec::DiskImageOptions& ring,
                         const std::string& name) {
    mkrec::quietCodecLog();
    DiskImage image;
    image.path = TempPath(name);
    image.layout = mkrec::writeDiskImage(plan, ring, image.path);
    return image;
}

std::vector<uint32_t> SlotsInRecordingOrder(const mkrec::DiskImageLayout& layout) {
    std::map<int64_t, uint32_t> byBlock;
    for (uint32_t slot = 0; slot < layout.slotCount; ++slot)
        if (layout.slotBlock[slot] >= 0) byBlock[layout.slotBlock[slot]] = slot;
    std::vector<uint32_t> slots;
    for (const auto& [block, slot] : byBlock)
        slots.push_back(slot);
    return slots;
}

int MemoryDevice::Read(void* buffer, uint64_t offset, size_t length) {
    std::unique_lock lock(m_lock);
    const auto overlaps = [&](uint64_t from, uint64_t to) {
        return offset < to && from < offset + length;
    };
    if (overlaps(m_failFrom, m_failTo)) return EIO;
    if (overlaps(m_holdFrom, m_holdTo)) m_cond.wait(lock, [&] { return m_released; });
    if (offset > m_bytes.size() || length > m_bytes.size() - offset) return EIO;
    std::memcpy(buffer, m_bytes.data() + offset, length);
    return 0;
}

void MemoryDevice::FailRange(uint64_t from, uint64_t to) {
    std::lock_guard lock(m_lock);
    m_failFrom = from;
    m_failTo = to;
}

void MemoryDevice::HoldRange(uint64_t from, uint64_t to) {
    std::lock_guard lock(m_lock);
    m_holdFrom = from;
    m_holdTo = to;
}

void MemoryDevice::Release() {
    std::lock_guard lock(m_lock);
    m_released = true;
    m_cond.notify_all();
}

} // namespace qm::test
