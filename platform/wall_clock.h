#pragma once
// The pacing clock: milliseconds since 1970-01-01 00:00:00 UTC. Frame times
// are brought to the same scale so that the two can be compared directly.

#include <cstdint>

namespace qm {

int64_t WallClockMs();

// A recorded frame's time (UTC seconds and microseconds) on the wall clock's scale.
inline int64_t FrameTimeMs(uint32_t seconds, uint32_t microseconds) {
    return int64_t(seconds) * 1000 + int64_t(microseconds) / 1000;
}

} // namespace qm
