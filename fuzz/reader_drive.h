#pragma once
// Takes frames from an open storage reader the way the play thread does,
// with a bound on frames and on waiting, so a damaged recording can neither
// loop nor hold a fuzz run up for long.

#include "storage/parse_index.h"

#include <cstddef>

namespace qm::fuzz {

// Forward play (all frames, or key frames only); returns the frames taken.
size_t DrainForward(CQMParseIndex& reader, size_t maxFrames, bool keyFramesOnly = false);
// Reverse play with GetPrevFrame; returns the frames taken.
size_t DrainReverse(CQMParseIndex& reader, size_t maxFrames);

} // namespace qm::fuzz
