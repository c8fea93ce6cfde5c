// qmtool export: the player's Save as AVI on the command line. One camera of
// an archive, a DVR disk or a disk image is written into NAME.avi and, after
// every change of picture size, NAME-002.avi, NAME-003.avi, ...; optionally
// its sound also goes into a WAV file. The written files are listed on
// stdout, one per line. Without --from/--to the whole recording is exported;
// unlike the player's dialog there is no 60-minute limit.

#include "codec/audio_decoder_ctrl.h"
#include "export/export_audio.h"
#include "export/save_avi_job.h"
#include "export/wav_writer.h"
#include "platform/diagnostics.h"
#include "storage/file_reader.h"
#include "storage/formats.h"
#include "storage/source_kind.h"
#include "tools/qmtool/commands.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qmtool {

namespace {

// The audio decoders, and one diagnostics line for each sound type that has
// none (its sound is left out).
class AudioDecoderSlot : public qm::IExportAudioDecoder {
public:
    explicit AudioDecoderSlot(qm::IExportAudioDecoder* decoder) : m_pDecoder(decoder) {}
    bool Decode(uint8_t audioType, qm::ByteView sound, std::vector<uint8_t>& pcm) override {
        if (m_pDecoder && m_pDecoder->Decode(audioType, sound, pcm)) return true;
        if (m_reported.insert(audioType).second)
            qm::qmLogAt(5, "qmtool",
                        "(export) No decoder for audio type %d: its sound is left out\n",
                        int(audioType));
        pcm.clear();
        return false;
    }

private:
    qm::IExportAudioDecoder* m_pDecoder;
    std::set<uint8_t> m_reported; // the job's thread only
};

// The archive's channel mask, or nullopt with a message.
std::optional<uint32_t> ArchiveChannels(const std::string& path, std::string& error) {
    const int fd = qm::OpenReadOnly(path);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    const uint64_t length = qm::FileLength(fd);
    std::vector<uint8_t> bytes(qm::kArchiveHeaderSize);
    const bool read = length >= bytes.size() &&
                      qm::ReadExact(fd, length - bytes.size(), bytes.data(), bytes.size());
    ::close(fd);
    const qm::ByteView view(bytes.data(), bytes.size());
    const auto header = read ? qm::parseArchiveHeader(view) : std::nullopt;
    if (header && qm::checkArchiveMagic(view)) return header->channelMask;
    error = path + ": Check file format error.";
    return std::nullopt;
}

// Points the request at SOURCE by its kind and returns the recorded cameras,
// or nullopt with a message. A disk is opened here, once, for the job.
std::optional<uint32_t> PrepareSource(const std::string& path, qm::SaveAviRequest& request,
                                      std::string& error) {
    request.sourcePath = path;
    std::string why;
    switch (qm::ClassifySource(path, &why)) {
    case qm::SourceKind::kArchive:
        request.sourceKind = qm::kExportSourceArchive;
        return ArchiveChannels(path, error);
    case qm::SourceKind::kDiskImage:
    case qm::SourceKind::kBlockDevice: {
        request.sourceKind = qm::kExportSourceDisk;
        request.disk = qm::OpenDiskForExport(path, why);
        if (!request.disk) {
            error = path + ": NO video in Hard Drive (" + why + ")";
            return std::nullopt;
        }
        return request.disk->index.channelMask;
    }
    case qm::SourceKind::kUnknown:
        break;
    }
    // A file that is there but is no recording gets the player's message.
    struct stat st {};
    const bool regular = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    error = path + ": " + (regular ? std::string("Check file format error.") : why);
    return std::nullopt;
}

} // namespace

int RunExport(const ParsedArgs& args) {
    if (args.positionals.size() != 1) return UsageError("export needs one SOURCE");
    const auto channelText = args.value("--channel");
    const auto out = args.value("--out");
    if (!channelText || !out) return UsageError("export needs --channel and --out");
    const auto camera = parseCamera(*channelText);
    if (!camera) return UsageError("--channel takes a camera number from 1 to 32");
    if (out->empty()) return UsageError("--out needs a file name");
    qm::SaveAviRequest request;
    for (const char* option : {"--from", "--to"}) {
        const auto text = args.value(option);
        if (!text) continue;
        const auto time = parseTime(*text);
        if (!time)
            return UsageError(std::string(option) +
                              " takes UTC seconds or \"YYYY-MM-DD HH:MM:SS\"");
        (std::strcmp(option, "--from") == 0 ? request.from : request.to) = *time;
    }
    if (request.from && request.to && *request.from > *request.to)
        return UsageError("--from must not be later than --to");
    const auto wavPath = args.value("--audio-wav");
    if (wavPath && wavPath->empty()) return UsageError("--audio-wav needs a file name");

    const std::string& source = args.positionals[0];
    std::string error;
    const auto mask = PrepareSource(source, request, error);
    if (!mask) return Fail(error);
    if (!(*mask & (1u << (*camera - 1))))
        return Fail("camera " + std::to_string(*camera) + " is not recorded in " + source);
    // --to names the last second exported; a disk's job wants the first one
    // left out.
    if (request.sourceKind == qm::kExportSourceDisk && request.to && *request.to != UINT32_MAX)
        ++*request.to;

    qm::TWavWriter wav;
    if (wavPath && !wav.Open(*wavPath, qm::kExportAudioRate)) return Fail(wav.Error());
    qm::TExportAudioDecoder<qm::TAudioDecoderCtrl> decoders;
    AudioDecoderSlot decoder(&decoders);

    request.channel = *camera - 1;
    request.withAudio = !args.has("--no-audio");
    request.outputPath = *out;
    request.audioDecoder = &decoder;
    if (wavPath) {
        request.frameWritten = [&wav](const qm::ExportFrame& frame) {
            if (!frame.audio.empty()) wav.Append(frame.audio.data(), frame.audio.size());
        };
    }

    qm::TSaveAviJob job(request);
    // The progress line is refreshed every 200 ms, but the end of the job
    // wakes the wait at once rather than at the next refresh.
    std::mutex doneLock;
    std::condition_variable doneChanged;
    bool done = false;
    bool ok = false;
    std::thread worker([&] {
        const bool result = job.Run();
        std::lock_guard lock(doneLock);
        ok = result;
        done = true;
        doneChanged.notify_all();
    });
    const bool showProgress = ::isatty(STDERR_FILENO) == 1;
    for (std::unique_lock lock(doneLock); !done;) {
        if (showProgress)
            std::fprintf(stderr, "\rexporting camera %d: %3d%%", *camera, job.ProgressPercent());
        doneChanged.wait_for(lock, std::chrono::milliseconds(200), [&] { return done; });
    }
    worker.join();
    if (showProgress)
        std::fprintf(stderr, "\rexporting camera %d: %3d%%\n", *camera, job.ProgressPercent());

    for (const std::string& file : job.Files())
        std::printf("%s\n", file.c_str());
    const bool wavOk = !wavPath || wav.Close();
    if (wavPath && wavOk) std::printf("%s\n", wavPath->c_str());
    if (!ok) return Fail(std::string(job.ResultText()) + " " + job.Error());
    if (!wavOk) return Fail(wav.Error());
    return 0;
}

} // namespace qmtool
