#pragma once
// Whole-block reads from a raw device that give up after a time limit. A
// failing disk can keep a read in the kernel for minutes; the prefetch thread
// and a seek must go on (skipping the block) instead of hanging with it.
//
// Each read runs on a thread of its own into a buffer of its own and is copied
// out only when it completed in time, so a read that is given up can never
// write into a block buffer that has been handed out meanwhile. A given-up
// read keeps its thread and buffer until it ends; a few may be pending at
// once, beyond that further reads are refused until one ends.

#include "platform/raw_device.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

namespace qm {

enum class TimedReadStatus { kDone, kFailed, kTimedOut };

struct TimedReadResult {
    TimedReadStatus status = TimedReadStatus::kFailed;
    int error = 0; // system error code; ETIMEDOUT for a read given up or refused
    bool ok() const { return status == TimedReadStatus::kDone; }
};

class TimedBlockReader {
public:
    static constexpr size_t kMaxPendingReads = 4;

    explicit TimedBlockReader(std::shared_ptr<IRawDevice> device);
    // Waits for every given-up read to end, however long that takes.
    ~TimedBlockReader();
    TimedBlockReader(const TimedBlockReader&) = delete;
    TimedBlockReader& operator=(const TimedBlockReader&) = delete;

    // Reads `length` bytes at `offset` into `out`, which is written only when
    // the result is kDone. Safe to call from several threads.
    TimedReadResult Read(uint8_t* out, uint64_t offset, size_t length, int64_t timeoutMs);

    // Given-up reads that have not ended yet.
    size_t PendingReads();

private:
    struct Job;
    void ReapEndedJobs(); // under m_lock

    std::shared_ptr<IRawDevice> m_pDevice;
    std::mutex m_lock;
    std::list<std::shared_ptr<Job>> m_givenUp;
    std::vector<std::vector<uint8_t>> m_spare; // buffers of reads that ended, for reuse
};

} // namespace qm
