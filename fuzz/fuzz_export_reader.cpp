// The export's own reading of an archive: the block index list of one camera,
// its frames with their sound decoded, and the AVI files made of them (written
// to tmpfs and removed). The first byte picks the camera (modulo 32), the
// archive is the bytes after it.

#include "codec/audio_decoder_ctrl.h"
#include "export/archive_frame_reader.h"
#include "export/export_audio.h"
#include "fuzz/export_segments.h"
#include "fuzz/fuzz_input.h"
#include "storage/parse_index.h"

#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int channel = data[0] % kMaxChannels;
    fuzz::InputFile file(data + 1, size - 1);
    if (!file.Ok()) return 0;
    const int fd = ::open(file.Path().c_str(), O_RDONLY);
    if (fd < 0) return 0;

    TExportAudioDecoder<TAudioDecoderCtrl> sound;
    ExportReaderSettings settings;
    settings.audioDecoder = &sound;
    TArchiveFrameReader reader(settings);
    if (reader.bBuildBlockIndexList_AVI(fd, channel)) {
        fuzz::WriteAndDiscardSegments(reader, "export.avi");
        reader.ReleaseBlockIndexList_AVI();
    }
    ::close(fd);
    return 0;
}
