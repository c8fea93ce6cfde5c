// Opening an archive: the header at the file's end, the mini header table and
// every block's header and frame tables, then the first blocks and the first
// frame of every channel; then closing it again. The blocks listed count as
// delivered.

#include "fuzz/fuzz_input.h"
#include "storage/parse_index.h"

#include <cstdint>

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputFile file(data, size);
    if (!file.Ok()) return 0;
    CQMParseIndex reader;
    if (reader.OpenFile(file.Path())) {
        if (reader.GroupCount() < 1 || reader.GroupCount() > kMaxGroups) __builtin_trap();
        for (int g = 0; g < reader.GroupCount(); ++g)
            for (const BlockEntry& entry : reader.BlockList(g)) {
                if (entry.IsSentinel()) continue;
                fuzz::NoteDelivered();
                if (entry.iTable.size() < size_t(entry.iCount) * kIFrameInfoSize ||
                    entry.pTable.size() < size_t(entry.pCount) * kPFrameInfoSize)
                    __builtin_trap();
            }
        reader.CloseFile();
    } else if (reader.IsOpen()) {
        __builtin_trap();
    }
    return 0;
}
