#pragma once
// The moments a recording holds frames for, as the spans of its blocks, and
// where a jump to a moment it does not hold should land instead.

#include <cstdint>
#include <optional>
#include <span>

namespace qm {

// One block's first and last second (reader times, both included).
struct RecordedSpan {
    uint32_t start = 0;
    uint32_t end = 0;
};

// `t` itself when a span holds it, otherwise the earliest start after it;
// nullopt when no span reaches `t` or later. Spans may come in any order and
// overlap (each group of cameras has its own blocks); an inverted span holds
// nothing.
std::optional<uint32_t> NextRecordedTime(std::span<const RecordedSpan> spans, uint32_t t);

} // namespace qm
