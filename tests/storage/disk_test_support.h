#pragma once
// Shared set-up for the disk tests: disk images written by the generator
// library, and an in-memory copy of one whose reads can fail or hang.

#include "platform/raw_device.h"
#include "tools/mkrec/disk_image_writer.h"
#include "tools/mkrec/recording_plan.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace qm::test {

// Three cameras over several 32 KB blocks, each block holding two key
// frames of every camera at least (a disk seek cannot start a camera with
// one key frame in its block).
mkrec::RecordingPlan DiskPlan();

struct DiskImage {
    std::string path;
    mkrec::DiskImageLayout layout;
};
DiskImage WriteDiskImage(const mkrec::RecordingPlan& plan, const mkrec::DiskImageOptions& ring,
                         const std::string& name = "disk.img");

// Slots of the kept blocks in recording order.
std::vector<uint32_t> SlotsInRecordingOrder(const mkrec::DiskImageLayout& layout);

class MemoryDevice : public IRawDevice {
public:
    explicit MemoryDevice(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    int Read(void* buffer, uint64_t offset, size_t length) override;
    uint64_t Size() const override { return m_bytes.size(); }

    // Reads overlapping [from, to) fail with EIO, or hang until Release().
    void FailRange(uint64_t from, uint64_t to);
    void HoldRange(uint64_t from, uint64_t to);
    void Release();

private:
    std::vector<uint8_t> m_bytes;
    std::mutex m_lock;
    std::condition_variable m_cond;
    uint64_t m_failFrom = 0, m_failTo = 0, m_holdFrom = 0, m_holdTo = 0;
    bool m_released = false;
};

} // namespace qm::test
