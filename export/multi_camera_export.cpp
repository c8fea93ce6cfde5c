#include "export/multi_camera_export.h"

#include "export/archive_frame_reader.h"
#include "export/disk_frame_reader.h"
#include "storage/file_reader.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <unistd.h>
#include <utility>

namespace qm {

namespace {

// Enough for the jobs to write while the reader reads on, little enough that
// a slow camera holds back the others rather than filling memory.
constexpr size_t kQueueFrames = 64;
constexpr size_t kQueueBytes = size_t(32) << 20;
// A reader waiting for frames is woken when this many are there (or the end).
constexpr size_t kWakeFrames = 16;

} // namespace

bool TFrameQueue::Push(const ExportFrame& frame) {
    HeldFrame held = HeldFrame::Of(frame);
    std::unique_lock lock(m_lock);
    // One frame always fits, however large.
    while (!m_bAbandoned && !m_items.empty() &&
           (m_items.size() >= kQueueFrames || m_nBytes >= kQueueBytes)) {
        m_bWriterWaiting = true;
        m_writable.wait(lock);
    }
    m_bWriterWaiting = false;
    if (m_bAbandoned) return false;
    m_nBytes += held.Bytes();
    m_items.push_back(std::move(held));
    // A sleeping reader is woken for a batch of frames, not for each one:
    // a wake-up per frame cost more than the writing.
    if (m_bReaderWaiting && (m_items.size() >= kWakeFrames || m_nBytes >= kQueueBytes / 2))
        m_readable.notify_one();
    return true;
}

void TFrameQueue::End(int result, const std::string& error) {
    std::lock_guard lock(m_lock);
    m_bEnded = true;
    m_nResult = result;
    m_strError = error;
    m_readable.notify_all();
}

void TFrameQueue::Abandon() {
    std::lock_guard lock(m_lock);
    m_bAbandoned = true;
    m_items.clear();
    m_nBytes = 0;
    m_writable.notify_all();
}

bool TFrameQueue::Abandoned() const {
    std::lock_guard lock(m_lock);
    return m_bAbandoned;
}

int TFrameQueue::ReadFrame(ExportFrame& frame) {
    frame.hasAudio = false;
    frame.audio.clear();
    std::unique_lock lock(m_lock);
    while (m_items.empty() && !m_bEnded) {
        m_bReaderWaiting = true;
        m_readable.wait(lock);
    }
    m_bReaderWaiting = false;
    if (m_items.empty()) return m_nResult;
    HeldFrame held = std::move(m_items.front());
    m_items.pop_front();
    m_nBytes -= held.Bytes();
    // Likewise the writer, once half the queue is free.
    if (m_bWriterWaiting && m_items.size() <= kQueueFrames / 2 && m_nBytes <= kQueueBytes / 2)
        m_writable.notify_one();
    lock.unlock();
    held.MoveInto(frame);
    return int(frame.length);
}

TMultiCameraExport::TMultiCameraExport(SaveAviRequest base, std::vector<Camera> cameras)
    : m_base(std::move(base)), m_cameras(std::move(cameras)) {}

SaveAviRequest TMultiCameraExport::RequestFor(const Camera& camera) const {
    SaveAviRequest request = m_base;
    request.channel = camera.channel;
    request.outputPath = camera.outputPath;
    auto* self = const_cast<TMultiCameraExport*>(this);
    if (m_base.frameWritten)
        request.frameWritten = [self, f = m_base.frameWritten](const ExportFrame& frame) {
            std::lock_guard lock(self->m_callbackLock);
            f(frame);
        };
    if (m_base.hooks.onPicture)
        request.hooks.onPicture = [self, f = m_base.hooks.onPicture](int channel,
                                                                     const ExportFrame& frame) {
            std::lock_guard lock(self->m_callbackLock);
            f(channel, frame);
        };
    if (m_base.hooks.onOutputDone)
        request.hooks.onOutputDone = [self,
                                      f = m_base.hooks.onOutputDone](const ExportOutputDone& done) {
            std::lock_guard lock(self->m_callbackLock);
            f(done);
        };
    return request;
}

bool TMultiCameraExport::Run() {
    m_outcomes.assign(m_cameras.size(), Outcome{});
    m_files.clear();
    m_strError.clear();
    m_nDamaged = 0;
    m_bSucceeded = false;
    if (!m_base.outputs) {
        m_strError = "no outputs";
        return false;
    }
    for (int group = 0; group < 2; ++group) {
        std::vector<size_t> cameras;
        for (size_t i = 0; i < m_cameras.size(); ++i)
            if (m_cameras[i].channel / kChannelsPerGroup == group) cameras.push_back(i);
        if (cameras.size() > 1) RunShared(cameras);
    }
    // Camera by camera, as the files are listed: the first failure ends the run.
    for (size_t i = 0; i < m_cameras.size(); ++i) {
        if (!m_outcomes[i].done) RunAlone(i);
        const Outcome& outcome = m_outcomes[i];
        m_files.insert(m_files.end(), outcome.files.begin(), outcome.files.end());
        if (!outcome.ok) {
            m_strError = outcome.error;
            return false;
        }
    }
    m_nPercent = 100;
    m_bSucceeded = true;
    return true;
}

void TMultiCameraExport::RunAlone(size_t camera) {
    TSaveAviJob job(RequestFor(m_cameras[camera]));
    if (m_nCancel.load()) job.Cancel();
    Outcome& outcome = m_outcomes[camera];
    outcome.done = true;
    outcome.ok = job.Run();
    outcome.files = job.Files();
    outcome.error = job.Error();
    m_nDamaged += job.DamagedFramesSkipped();
}

void TMultiCameraExport::RunShared(const std::vector<size_t>& cameras) {
    uint32_t mask = 0;
    for (const size_t i : cameras)
        mask |= 1u << m_cameras[i].channel;
    const int first = m_cameras[cameras.front()].channel;
    const ExportReaderSettings settings =
        ExportReaderSettingsFor(m_base, kExportFirstLeadSeconds, &m_nCancel, &m_nPercent);
    const uint32_t start = settings.from.value_or(0);

    // Whatever the shared pass cannot begin is left to the cameras alone,
    // which say why in their own words.
    if (m_base.sourceKind == kExportSourceDisk) {
        auto disk = m_base.disk;
        if (!disk) {
            std::string error;
            disk = OpenDiskForExport(m_base.sourcePath, error);
            if (!disk) return;
            m_base.disk = disk; // opened once for every camera
        }
        if ((disk->index.channelMask & mask) != mask) return;
        const DiskIndex& index = disk->index;
        const uint64_t lastSecond = m_base.last
                                        ? uint64_t(std::max<int64_t>(*m_base.last, 0) / 1000)
                                        : uint64_t(index.endTime);
        const uint32_t end = uint32_t(std::min<uint64_t>(lastSecond + 1, UINT32_MAX));
        if (start >= end) return;
        {
            const ExportReaderSettings exact =
                ExportReaderSettingsFor(m_base, 0, &m_nCancel, nullptr);
            TDiskFrameReader probe(exact, m_base.diskReadTimeoutMs);
            if (!probe.bBuildBlockIndexList_AVI(disk, first, exact.from.value_or(0), end) ||
                probe.BlockList().empty())
                return;
        }
        TDiskFrameReader reader(settings, m_base.diskReadTimeoutMs);
        if (!reader.bBuildBlockIndexList_AVI(disk, first, start, end) || reader.BlockList().empty())
            return;
        reader.AddChannels(mask);
        Pump(reader, cameras, start, index.startTime);
        return;
    }
    const int fd = OpenReadOnly(m_base.sourcePath);
    if (fd < 0) return;
    TArchiveFrameReader reader(settings);
    if (reader.bBuildBlockIndexList_AVI(fd, first) &&
        (reader.Header().channelMask & mask) == mask) {
        reader.AddChannels(mask);
        Pump(reader, cameras, start, reader.Header().startTime);
    }
    reader.ReleaseBlockIndexList_AVI();
    ::close(fd);
}

void TMultiCameraExport::Pump(IExportFrameReader& reader, const std::vector<size_t>& cameras,
                              uint32_t readerStart, uint32_t recordingStart) {
    struct Lane {
        std::unique_ptr<TSaveAviJob> job;
        TFrameQueue queue;
        bool ok = false;
        bool widen = false;
    };
    std::vector<std::unique_ptr<Lane>> lanes;
    int laneOf[32];
    std::fill(std::begin(laneOf), std::end(laneOf), -1);
    for (const size_t i : cameras) {
        auto lane = std::make_unique<Lane>();
        lane->job = std::make_unique<TSaveAviJob>(RequestFor(m_cameras[i]));
        laneOf[m_cameras[i].channel] = int(lanes.size());
        lanes.push_back(std::move(lane));
    }
    std::vector<std::thread> threads;
    for (auto& lane : lanes) {
        Lane* l = lane.get();
        threads.emplace_back([l, readerStart, recordingStart] {
            l->ok = l->job->RunFrom(l->queue, readerStart, recordingStart, l->widen);
            l->queue.Abandon();
        });
    }
    ExportFrame frame;
    for (;;) {
        const int r = reader.ReadFrame(frame);
        if (r < 0) {
            for (auto& lane : lanes)
                lane->queue.End(r, reader.Error());
            break;
        }
        const int lane = frame.channel >= 0 && frame.channel < 32 ? laneOf[frame.channel] : -1;
        if (lane >= 0) lanes[size_t(lane)]->queue.Push(frame);
        if (std::all_of(lanes.begin(), lanes.end(),
                        [](const auto& l) { return l->queue.Abandoned(); })) {
            for (auto& l : lanes)
                l->queue.End(kExportEnd, {});
            break;
        }
    }
    for (std::thread& t : threads)
        t.join();
    m_nDamaged += reader.DamagedFramesSkipped();
    for (size_t k = 0; k < lanes.size(); ++k) {
        const Lane& lane = *lanes[k];
        if (lane.widen) continue; // read again alone, from further back
        Outcome& outcome = m_outcomes[cameras[k]];
        outcome.done = true;
        outcome.ok = lane.ok;
        outcome.files = lane.job->Files();
        outcome.error = lane.job->Error();
    }
}

} // namespace qm
