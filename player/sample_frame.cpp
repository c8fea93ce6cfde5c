#include "player/sample_frame.h"

#include "storage/record_layout.h"

namespace qm {

namespace {

FrameRecord MakeSample() {
    FrameRecord r;
    r.payload = nullptr;
    r.Clear();
    r.recordLength = sizeof(FrameRecord);
    r.codec = kCodecSOLO;
    r.type = kFrameTypeKey;
    r.width = 704;
    r.height = 480;
    r.year = 2007;
    r.month = 11;
    r.day = 2;
    r.hour = 19;
    r.minute = 19;
    r.second = 1;
    return r;
}

} // namespace

const FrameRecord& SampleFrameRecord() {
    static const FrameRecord sample = MakeSample();
    return sample;
}

} // namespace qm
