#pragma once
// Writes what an export reader delivers as AVI files on tmpfs, as the save
// job does (a new file after each change of picture size, eight at most),
// and removes them again. Every frame written counts as delivered.

#include "export/avi_segment.h"
#include "export/avi_writer.h"
#include "fuzz/fuzz_input.h"
#include "platform/output_files.h"

#include <cstdio>
#include <string>

namespace qm::fuzz {

inline void WriteAndDiscardSegments(IExportFrameReader& reader, const char* name) {
    OutputFiles outputs(true);
    CQMAvi avi(outputs);
    ExportFrame frame;
    SegmentSettings settings;
    settings.frameWritten = [](const ExportFrame&) { NoteDelivered(); };
    TAviSegmentDriver driver(avi, reader, frame, settings);
    int result = kSegmentSizeChanged;
    for (int files = 0; files < 8 && result == kSegmentSizeChanged; ++files) {
        const std::string out = ScratchPath(name) + "-" + std::to_string(files);
        result = driver.SaveAviSegment(out);
        std::remove(out.c_str());
    }
}

} // namespace qm::fuzz
