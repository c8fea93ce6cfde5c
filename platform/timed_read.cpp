#include "platform/timed_read.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

namespace qm {

struct TimedBlockReader::Job {
    std::mutex lock;
    std::condition_variable done;
    bool ended = false;
    int error = 0;
    std::vector<uint8_t> buffer; // the job's own; written by its thread until it ends
    std::thread thread;
};

TimedBlockReader::TimedBlockReader(std::shared_ptr<IRawDevice> device)
    : m_pDevice(std::move(device)) {}

TimedBlockReader::~TimedBlockReader() {
    std::list<std::shared_ptr<Job>> pending;
    {
        std::lock_guard lock(m_lock);
        pending.swap(m_givenUp);
    }
    for (auto& job : pending)
        job->thread.join();
}

void TimedBlockReader::ReapEndedJobs() {
    for (auto it = m_givenUp.begin(); it != m_givenUp.end();) {
        bool ended;
        {
            std::lock_guard jobLock((*it)->lock);
            ended = (*it)->ended;
        }
        if (!ended) {
            ++it;
            continue;
        }
        (*it)->thread.join();
        m_spare.push_back(std::move((*it)->buffer));
        it = m_givenUp.erase(it);
    }
    if (m_spare.size() > 1) m_spare.resize(1);
}

size_t TimedBlockReader::PendingReads() {
    std::lock_guard lock(m_lock);
    ReapEndedJobs();
    return m_givenUp.size();
}

TimedReadResult TimedBlockReader::Read(uint8_t* out, uint64_t offset, size_t length,
                                       int64_t timeoutMs) {
    auto job = std::make_shared<Job>();
    {
        std::lock_guard lock(m_lock);
        ReapEndedJobs();
        // A device that keeps reads hanging gets no more of them.
        if (m_givenUp.size() >= kMaxPendingReads) return {TimedReadStatus::kTimedOut, ETIMEDOUT};
        if (!m_spare.empty()) {
            job->buffer = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    try {
        if (job->buffer.size() < length) job->buffer.resize(length);
        job->thread = std::thread([job, device = m_pDevice, offset, length] {
            const int error = device ? device->Read(job->buffer.data(), offset, length) : ENODEV;
            std::lock_guard lock(job->lock);
            job->error = error;
            job->ended = true;
            job->done.notify_all();
        });
    } catch (const std::bad_alloc&) {
        return {TimedReadStatus::kFailed, ENOMEM};
    } catch (const std::system_error&) {
        return {TimedReadStatus::kFailed, EAGAIN};
    }

    bool ended;
    {
        std::unique_lock jobLock(job->lock);
        ended =
            job->done.wait_for(jobLock, std::chrono::milliseconds(std::max<int64_t>(timeoutMs, 0)),
                               [&] { return job->ended; });
    }
    if (!ended) {
        std::lock_guard lock(m_lock);
        m_givenUp.push_back(std::move(job));
        return {TimedReadStatus::kTimedOut, ETIMEDOUT};
    }
    job->thread.join();
    TimedReadResult result{TimedReadStatus::kDone, job->error};
    if (job->error != 0)
        result.status = TimedReadStatus::kFailed;
    else if (length)
        std::memcpy(out, job->buffer.data(), length);
    std::lock_guard lock(m_lock);
    if (m_spare.empty()) m_spare.push_back(std::move(job->buffer));
    return result;
}

} // namespace qm
