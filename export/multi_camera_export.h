#pragma once
// Several cameras of one recording exported in one pass over it: one reader
// goes through each group's blocks once and hands every camera's frames to
// that camera's job, which runs on a thread of its own and writes exactly
// what it would have written reading alone. A camera whose first key frame
// lies further before the range than the shared reader looked (or that the
// shared pass cannot serve at all) is then exported alone.
//
// The callbacks of the request (frameWritten, hooks) are called one at a
// time, from whichever job's thread writes.

#include "export/save_avi_job.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace qm {

// Frames handed from one thread (the reader's) to another (a job's), at most
// a few dozen frames or megabytes waiting at a time.
class TFrameQueue : public IExportFrameReader {
public:
    // Waits while the queue is full. False once the job stopped reading:
    // the frame is dropped.
    bool Push(const ExportFrame& frame);
    // No more frames: ReadFrame returns `result` (an ExportReadResult) and
    // Error() `error` once the queue is empty.
    void End(int result, const std::string& error);
    // The job reads no more; a waiting Push returns.
    void Abandon();
    bool Abandoned() const;

    int ReadFrame(ExportFrame& frame) override;
    // Only after ReadFrame returned the end.
    const std::string& Error() const override { return m_strError; }

private:
    mutable std::mutex m_lock;
    std::condition_variable m_readable; // frames (or the end) for the reader
    std::condition_variable m_writable; // room for the writer
    bool m_bReaderWaiting = false;
    bool m_bWriterWaiting = false;
    std::deque<HeldFrame> m_items;
    size_t m_nBytes = 0;
    bool m_bEnded = false;
    bool m_bAbandoned = false;
    int m_nResult = kExportEnd;
    std::string m_strError;
};

class TMultiCameraExport {
public:
    struct Camera {
        int channel = 0; // 0-31
        std::string outputPath;
    };
    // `base` is every camera's request but for its channel and output path;
    // its `outputs` must be set (the caller commits them).
    TMultiCameraExport(SaveAviRequest base, std::vector<Camera> cameras);

    // Exports every camera; true when all succeeded. Call from one thread.
    bool Run();

    // Safe from any thread while Run is in progress.
    void Cancel() { m_nCancel.store(1); }
    int ProgressPercent() const { return m_nPercent.load(); }

    // After Run: the files written, camera by camera, and why it failed.
    const std::vector<std::string>& Files() const { return m_files; }
    uint64_t DamagedFramesSkipped() const { return m_nDamaged; }
    const std::string& Error() const { return m_strError; }
    const char* ResultText() const { return m_bSucceeded ? kSaveAviSuccessText : kSaveAviFailText; }

private:
    struct Outcome {
        bool done = false; // exported by the shared pass (ok tells how)
        bool ok = false;
        std::vector<std::string> files;
        std::string error;
    };
    SaveAviRequest RequestFor(const Camera& camera) const;
    // The cameras of one group in one pass; those it leaves undone are
    // exported alone.
    void RunShared(const std::vector<size_t>& cameras);
    void RunAlone(size_t camera);
    void Pump(IExportFrameReader& reader, const std::vector<size_t>& cameras, uint32_t readerStart,
              uint32_t recordingStart);

    SaveAviRequest m_base;
    std::vector<Camera> m_cameras;
    std::vector<Outcome> m_outcomes;
    std::mutex m_callbackLock; // one callback at a time
    std::atomic<int> m_nCancel{0};
    std::atomic<int> m_nPercent{0};
    std::vector<std::string> m_files;
    uint64_t m_nDamaged = 0;
    std::string m_strError;
    bool m_bSucceeded = false;
};

} // namespace qm
