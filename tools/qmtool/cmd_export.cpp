// qmtool export: the player's Save as AVI on the command line. One camera of
// an archive is written into NAME.avi and, after every change of picture
// size, NAME-002.avi, NAME-003.avi, ...; optionally its sound also goes into
// a WAV file. The written files are listed on stdout, one per line.

#include "codec/audio_decoder_ctrl.h"
#include "export/export_audio.h"
#include "export/save_avi_job.h"
#include "export/wav_writer.h"
#include "platform/diagnostics.h"
#include "storage/file_reader.h"
#include "storage/formats.h"
#include "tools/qmtool/commands.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
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
std::optional<uint32_t> RecordedChannels(const std::string& path, std::string& error) {
    const int fd = qm::OpenReadOnly(path);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    const uint64_t length = qm::FileLength(fd);
    std::vector<uint8_t> bytes(qm::kArchiveHeaderSize);
    const bool read = length >= bytes.size() &&
                      qm::ReadExact(fd, length - bytes.size(), bytes.data(), bytes.size());
    std::vector<uint8_t> diskInfo(qm::kDiskInfoSize);
    const bool disk = qm::ReadExact(fd, qm::kDiskInfoOffset, diskInfo.data(), diskInfo.size()) &&
                      qm::isDiskMagicAnyOrder(qm::loadLE32(diskInfo.data()));
    ::close(fd);
    const qm::ByteView view(bytes.data(), bytes.size());
    const auto header = read ? qm::parseArchiveHeader(view) : std::nullopt;
    if (header && qm::checkArchiveMagic(view)) return header->channelMask;
    error = path + (disk ? ": exporting from a DVR disk is not available yet"
                         : ": Check file format error.");
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
    const auto mask = RecordedChannels(source, error);
    if (!mask) return Fail(error);
    if (!(*mask & (1u << (*camera - 1))))
        return Fail("camera " + std::to_string(*camera) + " is not recorded in " + source);

    qm::TWavWriter wav;
    if (wavPath && !wav.Open(*wavPath, qm::kExportAudioRate)) return Fail(wav.Error());
    qm::TExportAudioDecoder<qm::TAudioDecoderCtrl> decoders;
    AudioDecoderSlot decoder(&decoders);

    request.sourcePath = source;
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
    std::atomic<bool> done{false};
    bool ok = false;
    std::thread worker([&] {
        ok = job.Run();
        done = true;
    });
    const bool showProgress = ::isatty(STDERR_FILENO) == 1;
    while (!done) {
        if (showProgress)
            std::fprintf(stderr, "\rexporting camera %d: %3d%%", *camera, job.ProgressPercent());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
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
