#include "export/range_frame_reader.h"

#include "platform/diagnostics.h"

#include <utility>

namespace qm {

TRangeFrameReader::TRangeFrameReader(IExportFrameReader& inner, int64_t first,
                                     std::optional<int64_t> last)
    : m_inner(inner), m_llFirst(first), m_last(last) {}

void TRangeFrameReader::Hold(const ExportFrame& frame) {
    HeldFrame held = HeldFrame::Of(frame);
    m_nHeldBytes += held.Bytes();
    m_held.push_back(std::move(held));
}

bool TRangeFrameReader::Prime() {
    if (m_bPrimed) return m_nPrimeResult >= 0 || m_nPrimeResult == kExportEnd;
    m_bPrimed = true;
    for (;;) {
        const int r = m_inner.ReadFrame(m_scratch);
        if (r < 0) {
            // The data ended before the range began: nothing to deliver.
            m_held.clear();
            m_nPrimeResult = r;
            return r == kExportEnd;
        }
        if (TimeOf(m_scratch) >= m_llFirst) {
            // A key frame at the first moment needs nothing before it.
            if (m_scratch.key) {
                m_held.clear();
                m_nHeldBytes = 0;
                m_bKeyFound = true;
            }
            if (m_last && TimeOf(m_scratch) > *m_last) {
                m_held.clear();
                m_nPrimeResult = kExportEnd;
                return true;
            }
            Hold(m_scratch);
            return true;
        }
        // Before the range: only the group of pictures in progress matters.
        if (m_scratch.key) {
            m_held.clear();
            m_nHeldBytes = 0;
            m_bKeyFound = true;
        }
        if (!m_bKeyFound) continue;
        Hold(m_scratch);
        if (m_nHeldBytes > kRangePrerollBytes) {
            qmLogAt(6, log_tag::kSaveAviJob,
                    "(Range) the group before the range exceeds %zu bytes\n", kRangePrerollBytes);
            m_held.clear();
            m_nHeldBytes = 0;
            m_bKeyFound = false;
        }
    }
}

int TRangeFrameReader::ReadFrame(ExportFrame& frame) {
    frame.hasAudio = false;
    frame.audio.clear();
    if (!Prime()) return m_nPrimeResult;
    if (!m_held.empty()) {
        m_held.front().MoveInto(frame);
        m_held.pop_front();
        if (m_held.empty()) m_nHeldBytes = 0;
        return int(frame.length);
    }
    if (m_nPrimeResult < 0) return m_nPrimeResult;
    const int r = m_inner.ReadFrame(frame);
    if (r >= 0 && m_last && TimeOf(frame) > *m_last) {
        m_nPrimeResult = kExportEnd;
        return kExportEnd;
    }
    return r;
}

} // namespace qm
