#pragma once
// What an export tells about its work as it goes: every picture written and
// every output file finished. A record of the export (a manifest, a summary)
// attaches here without the writers knowing of it. Both are called on the
// thread that writes.

#include "export/export_frame.h"

#include <cstdint>
#include <functional>
#include <string>

namespace qm {

struct ExportOutputDone {
    int channel = 0; // 0-31
    std::string path;
    uint64_t pictures = 0;
    // Recorded times of the first and last picture in the file, stored
    // milliseconds (0 when it holds none).
    int64_t first = 0;
    int64_t last = 0;
    uint64_t damagedSkipped = 0; // damaged frames of the camera passed over so far
};

struct ExportHooks {
    // Each picture once it is in its file, with its stored bytes and sound.
    std::function<void(int channel, const ExportFrame& frame)> onPicture;
    // Each output file once its last byte is written (before the run commits).
    std::function<void(const ExportOutputDone& done)> onOutputDone;
};

} // namespace qm
