// Frame preparation and delivery over damaged blocks: an archive opened and
// played forward, then a seek into the middle and reverse play, then key
// frames only from the start. Every frame handed out must fit its record,
// and counts as delivered.

#include "fuzz/fuzz_input.h"
#include "fuzz/reader_drive.h"
#include "storage/parse_index.h"

#include <cstdint>

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputFile file(data, size);
    if (!file.Ok()) return 0;
    CQMParseIndex reader;
    if (!reader.OpenFile(file.Path())) return 0;
    fuzz::NoteDelivered(fuzz::DrainForward(reader, 400));
    const uint32_t middle = reader.m_nStartTime + (reader.m_nEndTime - reader.m_nStartTime) / 2;
    if (reader.SeekByTime(middle, 1)) fuzz::NoteDelivered(fuzz::DrainReverse(reader, 100));
    reader.m_nLoadMode = 1;
    if (reader.SeekByTime(reader.m_nStartTime, 0))
        fuzz::NoteDelivered(fuzz::DrainForward(reader, 100, true));
    reader.CloseFile();
    return 0;
}
