// The export's own reading of a DVR disk: the information sector and MHS
// loaded for the export, the block list of one camera over the disk's whole
// range, its frames read block by block with their sound decoded, and the
// AVI files made of them (written to tmpfs and removed). The first byte picks
// the camera (modulo 32), the disk is the bytes after it.

#include "codec/audio_decoder_ctrl.h"
#include "export/disk_export_source.h"
#include "export/disk_frame_reader.h"
#include "export/export_audio.h"
#include "fuzz/export_segments.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/memory_device.h"
#include "storage/parse_index.h"

#include <cstdint>
#include <memory>

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int channel = data[0] % kMaxChannels;
    std::string error;
    auto disk = LoadDiskForExport(std::make_shared<fuzz::MemoryDevice>(data + 1, size - 1), error);
    if (!disk) return 0;
    if (!disk->Records(channel)) return 0;

    TExportAudioDecoder<TAudioDecoderCtrl> sound;
    ExportReaderSettings settings;
    settings.audioDecoder = &sound;
    TDiskFrameReader reader(settings, 2000);
    const uint32_t end = disk->index.endTime == UINT32_MAX ? UINT32_MAX : disk->index.endTime + 1;
    if (reader.bBuildBlockIndexList_AVI(disk, channel, 0, end)) {
        fuzz::WriteAndDiscardSegments(reader, "disk-export.avi");
        reader.ReleaseBlockIndexList_AVI();
    }
    return 0;
}
