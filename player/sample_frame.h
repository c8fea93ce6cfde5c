#pragma once
// The built-in sample frame record: every channel shows this size (704 x 480)
// until its first frame arrives.

#include "storage/frame_record.h"

namespace qm {

const FrameRecord& SampleFrameRecord();

} // namespace qm
