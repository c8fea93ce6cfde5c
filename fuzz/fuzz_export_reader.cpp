// The export's own reading of an archive: the block index list of one camera,
// its frames with their sound decoded, and the AVI files made of them (written
// to tmpfs and removed). The camera is the input's size modulo 4, so the
// mutator tries several.

#include "codec/audio_decoder_ctrl.h"
#include "export/archive_frame_reader.h"
#include "export/export_audio.h"
#include "fuzz/export_segments.h"
#include "fuzz/fuzz_input.h"

#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputFile file(data, size);
    if (!file.Ok()) return 0;
    const int fd = ::open(file.Path().c_str(), O_RDONLY);
    if (fd < 0) return 0;

    TExportAudioDecoder<TAudioDecoderCtrl> sound;
    ExportReaderSettings settings;
    settings.audioDecoder = &sound;
    TArchiveFrameReader reader(settings);
    const int channel = int(size % 4);
    if (reader.bBuildBlockIndexList_AVI(fd, channel)) {
        fuzz::WriteAndDiscardSegments(reader, "export.avi");
        reader.ReleaseBlockIndexList_AVI();
    }
    ::close(fd);
    return 0;
}
