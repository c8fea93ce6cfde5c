#pragma once
// Narrows another reader's frames to a range given to the millisecond. The
// frames begin at the key frame at or before the range's first moment, as
// `ffmpeg -ss` does with stream copy: every picture from the first moment on
// is in the file, and the ones before it are only those its decoding needs.
// The pictures of that group before the first moment are held in memory
// (up to kRangePrerollBytes) until the first frame of the range arrives.

#include "export/export_frame.h"

#include <cstdint>
#include <deque>
#include <optional>

namespace qm {

constexpr size_t kRangePrerollBytes = size_t(256) << 20;

class TRangeFrameReader : public IExportFrameReader {
public:
    // Times are stored milliseconds, both ends included. `inner` must begin
    // early enough to reach the key frame before `first` (see KeyFound).
    TRangeFrameReader(IExportFrameReader& inner, int64_t first, std::optional<int64_t> last);

    int ReadFrame(ExportFrame& frame) override;
    const std::string& Error() const override { return m_inner.Error(); }
    uint64_t DamagedFramesSkipped() const override { return m_inner.DamagedFramesSkipped(); }

    // Reads up to the first frame of the range. False when the inner reader
    // failed; KeyFound() then tells whether the frames held begin with a key
    // frame at or before the range's first moment (otherwise the inner
    // reader began too late, or the camera has none).
    bool Prime();
    bool KeyFound() const { return m_bKeyFound; }
    // Whether a frame of the range was found at all.
    bool RangeFound() const { return !m_held.empty(); }

private:
    void Hold(const ExportFrame& frame);
    static int64_t TimeOf(const ExportFrame& frame) {
        return int64_t(frame.seconds) * 1000 + frame.subsecond / 1000;
    }

    IExportFrameReader& m_inner;
    int64_t m_llFirst;
    std::optional<int64_t> m_last;
    bool m_bPrimed = false;
    bool m_bKeyFound = false;
    int m_nPrimeResult = 0; // the inner reader's result that ended priming, when negative
    std::deque<HeldFrame> m_held;
    size_t m_nHeldBytes = 0;
    ExportFrame m_scratch;
};

} // namespace qm
