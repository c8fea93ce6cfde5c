// qmtool export: the player's Save as AVI on the command line, and more. One
// camera of an archive, a DVR disk or a disk image is written into NAME.avi
// and, after every change of picture size, NAME-002.avi, NAME-003.avi, ...;
// or into one NAME.mp4 or NAME.mkv. Optionally its sound also goes into a WAV
// file. Several cameras (a list, or all) go into a folder, one file each
// (CH01.avi, CH02.avi, ...). The written files are listed on stdout, one per
// line (or with --json one summary object). Without --from/--to the whole
// recording is exported; unlike the player's dialog there is no 60-minute
// limit.

#include "codec/audio_decoder_ctrl.h"
#include "export/export_audio.h"
#include "export/export_manifest.h"
#include "export/media_writer.h"
#include "export/multi_camera_export.h"
#include "export/save_avi_job.h"
#include "export/wav_writer.h"
#include "platform/diagnostics.h"
#include "platform/output_files.h"
#include "storage/formats.h"
#include "storage/recording_index.h"
#include "storage/source_kind.h"
#include "tools/qmtool/commands.h"
#include "tools/qmtool/progress_line.h"
#include "tools/qmtool/run_summary.h"
#include "tools/qmtool/source.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sys/stat.h>
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
    uint32_t recoveredBlocks = 0; // the index was damaged: blocks found by a scan
};

std::optional<SourceFacts> ArchiveFacts(const std::string& path, std::string& error) {
    qm::IndexError why;
    const auto header = qm::ReadArchiveHeader(path, why);
    if (header && header->recovered)
        std::fprintf(stderr, "qmtool: index damaged: %u blocks found by scanning\n",
                     header->recoveredBlocks);
    if (header)
        return SourceFacts{header->channelMask, header->startTime, header->timeOffsetSeconds(),
                           header->recovered ? header->recoveredBlocks : 0};
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
        const qm::DiskIndex& index = request.disk->index;
        const uint32_t recovered = index.recovered ? uint32_t(index.blocks.size()) : 0;
        if (recovered)
            std::fprintf(stderr, "qmtool: index damaged: %u blocks found by scanning\n", recovered);
        // A disk's times are shown without an offset.
        return SourceFacts{index.channelMask, index.startTime, 0, recovered};
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
// be mistaken for this export's: they count as existing outputs too. The
// folder is listed once: asking for each of the 998 names costs more than
// the rest of a short export.
std::optional<std::string> ExistingSegment(const std::string& out) {
    const std::filesystem::path first(qm::SegmentFileName(out, 2));
    const std::filesystem::path folder =
        first.parent_path().empty() ? std::filesystem::path(".") : first.parent_path();
    // Every numbered name shares the part before the number.
    const std::string numbered = first.filename().string();
    const std::string stem = numbered.substr(0, numbered.size() - std::string("002.avi").size());
    std::set<std::string> present;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.compare(0, stem.size(), stem) == 0) present.insert(std::move(name));
    }
    struct stat st {};
    for (int n = 2; n <= 999; ++n) {
        const std::string name = qm::SegmentFileName(out, n);
        const bool listed = present.count(std::filesystem::path(name).filename().string()) != 0;
        // A folder that cannot be listed is asked name by name.
        if (ec ? ::lstat(name.c_str(), &st) == 0 : listed) return name;
    }
    return std::nullopt;
}

// The cameras of --channel: one number, a list ("1,2,5") or "all" (every
// camera recorded, known only once the source is read: left empty here).
struct CameraChoice {
    std::vector<int> cameras; // 1-32, ascending, unique
    bool all = false;
    bool folder = false; // a list or "all": --out names a folder
};

std::optional<CameraChoice> ParseCameras(const std::string& text) {
    CameraChoice choice;
    if (text == "all") {
        choice.all = choice.folder = true;
        return choice;
    }
    choice.folder = text.find(',') != std::string::npos;
    std::set<int> cameras;
    for (size_t at = 0; at <= text.size();) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const auto camera = parseCamera(text.substr(at, comma - at));
        if (!camera) return std::nullopt;
        cameras.insert(*camera);
        at = comma + 1;
    }
    choice.cameras.assign(cameras.begin(), cameras.end());
    return choice;
}

std::string CameraFileName(const std::string& folder, int camera, qm::ExportFormat format) {
    char name[32];
    std::snprintf(name, sizeof name, "CH%02d.%s", camera, qm::ExportFormatExtension(format));
    return (std::filesystem::path(folder) / name).string();
}

} // namespace

int RunExport(const ParsedArgs& args) {
    if (args.positionals.size() != 1) return UsageError("export needs one SOURCE");
    const auto channelText = args.value("--channel");
    const auto out = args.value("--out");
    if (!channelText || !out) return UsageError("export needs --channel and --out");
    const auto choice = ParseCameras(*channelText);
    if (!choice)
        return UsageError("--channel takes a camera number from 1 to 32, a list (1,2,5) or all");
    if (out->empty()) return UsageError("--out needs a file name");
    const auto wavPath = args.value("--audio-wav");
    const bool force = args.has("--force");
    const bool json = args.has("--json");
    const bool folder = choice->folder;
    if (folder && wavPath)
        return UsageError("--audio-wav takes the sound of one camera: give --channel one number");

    std::optional<qm::ExportFormat> format;
    if (const auto name = args.value("--format")) {
        format = qm::ExportFormatFromName(*name);
        if (!format) return UsageError("--format takes avi, mp4 or mkv");
    }
    if (args.has("--no-manifest") && (args.value("--manifest") || args.has("--hash-source")))
        return UsageError("--no-manifest excludes --manifest and --hash-source");
    const std::optional<std::string> manifestPath =
        args.has("--no-manifest")
            ? std::nullopt
            : std::optional(
                  args.value("--manifest").value_or(qm::DefaultManifestPath(*out, folder)));
    if (manifestPath && manifestPath->empty()) return UsageError("--manifest needs a file name");

    // Every name is checked before anything is read or written; a name that
    // reaches the source is refused before anything else is said about it.
    const std::string& source = args.positionals[0];
    qm::OutputFiles outputs(force);
    outputs.AddSource(source);
    if (const auto refusal =
            RefuseOntoSource(outputs, {*out, wavPath.value_or(""), manifestPath.value_or("")}))
        return Fail(*refusal);
    if (folder) {
        // A folder keeps the old default of the command: AVI.
        if (!format) format = qm::ExportFormat::kAvi;
        std::error_code ec;
        if (std::filesystem::exists(*out, ec) && !std::filesystem::is_directory(*out, ec))
            return Fail(*out + " is not a folder: several cameras are written into a folder");
    } else {
        const auto byName = qm::ExportFormatFromName(LowerExtension(*out));
        if (!byName || (format && *format != *byName))
            return UsageError("cannot write " + *out + ": " +
                              (format
                                   ? std::string("--format ") + qm::ExportFormatExtension(*format) +
                                         " writes ." + qm::ExportFormatExtension(*format) + " files"
                                   : std::string("export writes AVI, MP4 or Matroska files "
                                                 "(.avi, .mp4, .mkv)")));
        format = byName;
    }
    if (wavPath && LowerExtension(*wavPath) != "wav")
        return UsageError("cannot write " + *wavPath + ": --audio-wav writes a WAV file (.wav)");
    std::optional<qm::ClockArgument> fromArgument, toArgument;
    std::string error;
    if (!ReadTimeOption(args, "--from", fromArgument, error) ||
        !ReadTimeOption(args, "--to", toArgument, error))
        return UsageError(error);
    // The names of the files; "all" is known once the source is.
    auto reserve = [&](const std::vector<std::string>& names) -> std::optional<std::string> {
        for (const std::string& name : names) {
            if (name.empty()) continue;
            if (const auto refusal = outputs.Reserve(name); refusal != qm::OutputRefusal::kNone)
                return qm::RefusalText(refusal, name);
            if (!force && *format == qm::ExportFormat::kAvi && name != wavPath.value_or("") &&
                name != manifestPath.value_or(""))
                if (const auto existing = ExistingSegment(name))
                    return qm::RefusalText(qm::OutputRefusal::kExists, *existing);
        }
        return std::nullopt;
    };
    auto outputName = [&](int camera) {
        return folder ? CameraFileName(*out, camera, *format) : *out;
    };
    if (!choice->all) {
        std::vector<std::string> names{wavPath.value_or(""), manifestPath.value_or("")};
        for (const int camera : choice->cameras)
            names.insert(names.end() - 2, outputName(camera));
        if (const auto refusal = reserve(names)) return Fail(*refusal);
    }

    qm::SaveAviRequest request;
    const auto facts = PrepareSource(source, request, error);
    if (!facts) return Fail(error);
    std::vector<int> cameras = choice->cameras;
    if (choice->all) {
        for (int c = 0; c < 32; ++c)
            if (facts->channelMask & (1u << c)) cameras.push_back(c + 1);
        std::vector<std::string> names;
        for (const int camera : cameras)
            names.push_back(outputName(camera));
        names.push_back(manifestPath.value_or(""));
        if (const auto refusal = reserve(names)) return Fail(*refusal);
    }
    for (const int camera : cameras)
        if (!(facts->channelMask & (1u << (camera - 1))))
            return Fail(NotRecordedText(camera, facts->channelMask));
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
    if (folder) {
        std::error_code ec;
        std::filesystem::create_directories(*out, ec);
        if (ec) return Fail(*out + ": " + ec.message());
    }

    qm::TWavWriter wav;
    if (wavPath && !wav.Open(outputs, *wavPath, qm::kExportAudioRate)) return Fail(wav.Error());
    qm::TExportAudioDecoder<qm::TAudioDecoderCtrl> decoders;
    AudioDecoderSlot decoder(&decoders);

    RunSummary summary(clock);
    request.format = *format;
    std::optional<qm::ExportManifest> manifest;
    if (manifestPath) {
        manifest.emplace(*manifestPath, clock);
        if (!manifest->Attach(request, "qmtool", "export", args.commandLine,
                              args.has("--hash-source"), error))
            return Fail(error);
        if (facts->recoveredBlocks) manifest->SetSourceRecovered(facts->recoveredBlocks);
    }
    request.withAudio = !args.has("--no-audio");
    request.outputs = &outputs;
    request.audioDecoder = &decoder;
    // The subtitles show the clock as the player does, whatever --utc says.
    request.clock = qm::ClockView{facts->timeOffset, false};
    request.frameWritten = [&](const qm::ExportFrame& frame) {
        summary.AddFrame(frame.channel, qm::ToStoredMs(frame.seconds, frame.subsecond / 1000));
        if (wavPath && !frame.audio.empty()) wav.Append(frame.audio.data(), frame.audio.size());
    };

    // One camera alone, or several in one pass over the source.
    std::vector<qm::TMultiCameraExport::Camera> list;
    for (const int camera : cameras)
        list.push_back({camera - 1, outputName(camera)});
    request.channel = list.front().channel;
    request.outputPath = list.front().outputPath;
    qm::TSaveAviJob job(request);
    qm::TMultiCameraExport multi(request, list);
    bool ok = false;
    const std::string what =
        folder ? "cameras " + *channelText : "camera " + std::to_string(cameras.front());
    RunWithProgressLine(
        "exporting " + what,
        [&] { return folder ? multi.ProgressPercent() : job.ProgressPercent(); },
        [&] { ok = folder ? multi.Run() : job.Run(); });
    summary.AddDamaged(folder ? multi.DamagedFramesSkipped() : job.DamagedFramesSkipped());
    std::vector<std::string> files = folder ? multi.Files() : job.Files();
    const std::string jobError = folder ? std::string(multi.ResultText()) + " " + multi.Error()
                                        : std::string(job.ResultText()) + " " + job.Error();

    const bool wavOk = !wavPath || wav.Close();
    // The manifest vouches for the files as they will be once committed, so
    // it is written last and committed with them.
    std::string manifestError;
    bool manifestOk = true;
    if (ok && wavOk && manifest) {
        if (wavPath) manifest->AddFile(*wavPath, "wav");
        manifestOk = manifest->Finish(outputs, manifestError);
    }
    std::string commitError;
    const bool committed = ok && wavOk && manifestOk && outputs.Commit(commitError);
    if (!committed) outputs.Abandon();
    std::vector<std::string> written = files;
    if (wavPath) files.push_back(*wavPath);
    if (committed) {
        if (json) {
            Json j = summary.ToJson("export");
            if (folder)
                j["cameras"] = cameras;
            else
                j["camera"] = cameras.front();
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
        for (const std::string& file : written)
            std::printf("%s\n", file.c_str());
    std::fflush(stdout);
    if (!ok) return Fail(jobError);
    if (!wavOk) return Fail(wav.Error());
    if (!manifestOk) return Fail("the manifest could not be written: " + manifestError);
    return Fail(commitError);
}

} // namespace qmtool
