// qmtool export: the player's Save as AVI on the command line. One camera of
// an archive, a DVR disk or a disk image is written into NAME.avi and, after
// every change of picture size, NAME-002.avi, NAME-003.avi, ...; optionally
// its sound also goes into a WAV file. The written files are listed on
// stdout, one per line (or with --json one summary object). Without
// --from/--to the whole recording is exported; unlike the player's dialog
// there is no 60-minute limit.

#include "codec/audio_decoder_ctrl.h"
#include "export/export_audio.h"
#include "export/manifest.h"
#include "export/save_avi_job.h"
#include "export/wav_writer.h"
#include "platform/diagnostics.h"
#include "platform/output_files.h"
#include "storage/formats.h"
#include "storage/recording_index.h"
#include "storage/source_kind.h"
#include "tools/qmtool/commands.h"
#include "tools/qmtool/run_summary.h"
#include "tools/qmtool/source.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
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
            qm::qmLogAt(5, qm::log_tag::kQmtool,
                        "(export) No decoder for audio type %d: its sound is left out\n",
                        int(audioType));
        pcm.clear();
        return false;
    }

private:
    qm::IExportAudioDecoder* m_pDecoder;
    std::set<uint8_t> m_reported; // the job's thread only
};

// What the export needs to know of its source before it starts.
struct SourceFacts {
    uint32_t channelMask = 0;
    uint32_t startTime = 0;
    int timeOffset = 0;
};

std::optional<SourceFacts> ArchiveFacts(const std::string& path, std::string& error) {
    qm::IndexError why;
    const auto header = qm::ReadArchiveHeader(path, why);
    if (header)
        return SourceFacts{header->channelMask, header->startTime, header->timeOffsetSeconds()};
    error = path + ": " +
            (why.fault == qm::IndexFault::kCannotOpen ? why.text : qm::kArchiveFormatError);
    return std::nullopt;
}

// Points the request at SOURCE by its kind and tells what it recorded, or
// nullopt with a message. A disk is opened here, once, for the job.
std::optional<SourceFacts> PrepareSource(const std::string& path, qm::SaveAviRequest& request,
                                         std::string& error) {
    request.sourcePath = path;
    std::string why;
    switch (qm::ClassifySource(path, &why)) {
    case qm::SourceKind::kArchive:
        request.sourceKind = qm::kExportSourceArchive;
        return ArchiveFacts(path, error);
    case qm::SourceKind::kDiskImage:
    case qm::SourceKind::kBlockDevice: {
        request.sourceKind = qm::kExportSourceDisk;
        request.disk = qm::OpenDiskForExport(path, why);
        if (!request.disk) {
            error = path + ": NO video in Hard Drive (" + why + ")";
            return std::nullopt;
        }
        // A disk's times are shown without an offset.
        return SourceFacts{request.disk->index.channelMask, request.disk->index.startTime, 0};
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

// Without --force, numbered files of an earlier export beside NAME.avi would
// be mistaken for this export's: they count as existing outputs too.
std::optional<std::string> ExistingSegment(const std::string& out) {
    struct stat st {};
    for (int n = 2; n <= 999; ++n) {
        const std::string name = qm::SegmentFileName(out, n);
        if (::lstat(name.c_str(), &st) == 0) return name;
    }
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
    const auto wavPath = args.value("--audio-wav");
    const bool force = args.has("--force");
    const bool json = args.has("--json");
    if (args.has("--no-manifest") && (args.value("--manifest") || args.has("--hash-source")))
        return UsageError("--no-manifest excludes --manifest and --hash-source");
    const std::optional<std::string> manifestPath =
        args.has("--no-manifest")
            ? std::nullopt
            : std::optional(
                  args.value("--manifest").value_or(qm::DefaultManifestPath(*out, false)));
    if (manifestPath && manifestPath->empty()) return UsageError("--manifest needs a file name");

    // Every name is checked before anything is read or written; a name that
    // reaches the source is refused before anything else is said about it.
    const std::string& source = args.positionals[0];
    qm::OutputFiles outputs(force);
    outputs.AddSource(source);
    if (const auto refusal =
            RefuseOntoSource(outputs, {*out, wavPath.value_or(""), manifestPath.value_or("")}))
        return Fail(*refusal);
    if (LowerExtension(*out) != "avi")
        return UsageError("cannot write " + *out + ": export writes AVI files (.avi)");
    if (wavPath && LowerExtension(*wavPath) != "wav")
        return UsageError("cannot write " + *wavPath + ": --audio-wav writes a WAV file (.wav)");
    std::optional<qm::ClockArgument> fromArgument, toArgument;
    std::string error;
    if (!ReadTimeOption(args, "--from", fromArgument, error) ||
        !ReadTimeOption(args, "--to", toArgument, error))
        return UsageError(error);
    for (const std::string* name :
         {&*out, wavPath ? &*wavPath : nullptr, manifestPath ? &*manifestPath : nullptr}) {
        if (!name) continue;
        if (const auto refusal = outputs.Reserve(*name); refusal != qm::OutputRefusal::kNone)
            return Fail(qm::RefusalText(refusal, *name));
    }
    if (!force)
        if (const auto existing = ExistingSegment(*out))
            return Fail(qm::RefusalText(qm::OutputRefusal::kExists, *existing));

    qm::SaveAviRequest request;
    const auto facts = PrepareSource(source, request, error);
    if (!facts) return Fail(error);
    if (!(facts->channelMask & (1u << (*camera - 1))))
        return Fail(NotRecordedText(*camera, facts->channelMask));
    const qm::ClockView clock{facts->timeOffset, args.has("--utc")};
    const qm::StoredMs start = qm::ToStoredMs(facts->startTime);
    qm::StoredMs t = 0;
    if (fromArgument) {
        if (!ResolveTimeOption("--from", *fromArgument, clock, start, t, error)) return Fail(error);
        request.first = t;
    }
    if (toArgument) {
        if (!ResolveTimeOption("--to", *toArgument, clock, start, t, error)) return Fail(error);
        // A second given whole is exported whole.
        request.last = toArgument->hasMs ? t : t + 999;
    }
    if (request.first && request.last && *request.first > *request.last)
        return UsageError("--from must not be later than --to");

    qm::TWavWriter wav;
    if (wavPath && !wav.Open(outputs, *wavPath, qm::kExportAudioRate)) return Fail(wav.Error());
    qm::TExportAudioDecoder<qm::TAudioDecoderCtrl> decoders;
    AudioDecoderSlot decoder(&decoders);

    RunSummary summary(clock);
    qm::ManifestBuilder manifest(clock);
    if (manifestPath) {
        manifest.SetTool("qmtool", QmVersion(), "export", args.commandLine);
        manifest.SetSource(source,
                           request.sourceKind == qm::kExportSourceDisk ? "disk" : "archive");
        if (!manifest.ChooseSourceHash(args.has("--hash-source"), error)) return Fail(error);
        request.onPicture = [&](int channel, const qm::ExportFrame& frame) {
            manifest.AddPicture(channel, frame);
        };
        request.fileFinished = [&](const std::string& path, uint64_t damaged) {
            manifest.FinishOutput(path, *camera - 1, "avi", damaged);
        };
        if (manifest.WantsSourceReads())
            request.sourceRead = [&](uint64_t offset, qm::ByteView bytes) {
                manifest.AddSourceRead(offset, bytes);
            };
    }
    request.channel = *camera - 1;
    request.withAudio = !args.has("--no-audio");
    request.outputPath = *out;
    request.outputs = &outputs;
    request.audioDecoder = &decoder;
    request.frameWritten = [&](const qm::ExportFrame& frame) {
        summary.AddFrame(*camera - 1, qm::ToStoredMs(frame.seconds, frame.subsecond / 1000));
        if (wavPath && !frame.audio.empty()) wav.Append(frame.audio.data(), frame.audio.size());
    };

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
    summary.AddDamaged(job.DamagedFramesSkipped());

    const bool wavOk = !wavPath || wav.Close();
    // The manifest vouches for the files as they will be once committed, so
    // it is written last and committed with them.
    std::string manifestError;
    bool manifestOk = true;
    if (ok && wavOk && manifestPath) {
        if (wavPath) manifest.AddFile(*wavPath, "wav");
        manifestOk =
            manifest.HashOutputs([&](const std::string& path) { return outputs.WrittenPath(path); },
                                 manifestError) &&
            manifest.HashSource(manifestError) &&
            manifest.Write(outputs, *manifestPath, manifestError);
    }
    std::string commitError;
    const bool committed = ok && wavOk && manifestOk && outputs.Commit(commitError);
    if (!committed) outputs.Abandon();
    std::vector<std::string> files = job.Files();
    if (wavPath) files.push_back(*wavPath);
    if (committed) {
        if (json) {
            Json j = summary.ToJson("export");
            j["camera"] = *camera;
            j["files"] = files;
            j["manifest"] = manifestPath ? Json(*manifestPath) : Json();
            std::printf("%s\n", Dump(j).c_str());
        } else {
            for (const std::string& file : files)
                std::printf("%s\n", file.c_str());
            if (manifestPath) std::printf("%s\n", manifestPath->c_str());
        }
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", summary.Line().c_str());
        return summary.ExitStatus(args.has("--strict"));
    }
    // New files completed before the failure stay, and are named; the
    // replacements of existing ones are gone, and the old files untouched.
    if (!force && !json)
        for (const std::string& file : job.Files())
            std::printf("%s\n", file.c_str());
    std::fflush(stdout);
    if (!ok) return Fail(std::string(job.ResultText()) + " " + job.Error());
    if (!wavOk) return Fail(wav.Error());
    if (!manifestOk) return Fail("the manifest could not be written: " + manifestError);
    return Fail(commitError);
}

} // namespace qmtool
