#include "app/recorded_spans.h"

namespace qm {

std::optional<uint32_t> NextRecordedTime(std::span<const RecordedSpan> spans, uint32_t t) {
    std::optional<uint32_t> next;
    for (const RecordedSpan& s : spans) {
        if (s.start > s.end) continue;
        if (s.start <= t && t <= s.end) return t;
        if (s.start > t && (!next || s.start < *next)) next = s.start;
    }
    return next;
}

} // namespace qm
