// qmtool snapshot: the picture of one camera at a time, as the player shows
// it: the first frame at or after the time, decoded from its key frame, saved
// as JPEG, BMP or PNG by the file's extension.

#include "codec/decode_frame.h"
#include "platform/output_files.h"
#include "render/image_file.h"
#include "tools/qmtool/commands.h"
#include "tools/qmtool/frame_walk.h"
#include "tools/qmtool/run_summary.h"
#include "tools/qmtool/source.h"

#include <QImage>
#include <QString>

#include <optional>
#include <vector>

namespace qmtool {

namespace {

struct HeldFrame {
    qm::FrameRecord record;
    std::vector<uint8_t> payload;
};

} // namespace

int RunSnapshot(const ParsedArgs& args) {
    if (args.positionals.size() != 1) return UsageError("snapshot needs one SOURCE");
    const auto channelText = args.value("--channel");
    const auto out = args.value("--out");
    if (!channelText || !args.value("--time") || !out)
        return UsageError("snapshot needs --channel, --time and --out");
    const auto camera = parseCamera(*channelText);
    if (!camera) return UsageError("--channel takes a camera number from 1 to 32");
    const int channel = *camera - 1;
    const std::string& source = args.positionals[0];

    // Nothing is read before the name is known to be writable.
    qm::OutputFiles outputs(args.has("--force"));
    outputs.AddSource(source);
    if (const auto refusal = RefuseOntoSource(outputs, {*out})) return Fail(*refusal);
    std::optional<qm::ClockArgument> when;
    std::string error;
    if (!ReadTimeOption(args, "--time", when, error)) return UsageError(error);
    const auto format = qm::ImageFormatForName(QString::fromStdString(*out));
    if (!format)
        return UsageError("cannot write " + *out +
                          ": snapshot writes .jpg, .jpeg, .bmp and .png pictures");
    if (const auto refusal = outputs.Reserve(*out); refusal != qm::OutputRefusal::kNone)
        return Fail(qm::RefusalText(refusal, *out));

    qm::CQMParseIndex reader;
    if (!OpenSource(source, reader, error)) return Fail(error);
    if (!(reader.m_nChannelMask & (1u << channel)))
        return Fail(NotRecordedText(*camera, reader.m_nChannelMask));
    const qm::ClockView clock = ClockOf(reader, args);
    const qm::StoredMs first = qm::ToStoredMs(reader.m_nStartTime);
    const qm::StoredMs last = qm::ToStoredMs(reader.m_nEndTime, 999);
    qm::StoredMs at = 0;
    if (!ResolveTimeOption("--time", *when, clock, first, at, error)) return Fail(error);
    if (at < first || at > last)
        return Fail(qm::FormatClock(clock, at) + " is outside the recording (" +
                    qm::FormatClock(clock, first) + " to " + qm::FormatClock(clock, last) + ")");

    // Frames of the camera since its last key frame, up to the wanted one.
    std::vector<HeldFrame> held;
    bool found = false;
    FrameWalk walk(reader);
    walk.Run([&](const qm::FrameRecord& video) {
        if (video.channel != channel) return true;
        if (video.type == qm::kFrameTypeKey) held.clear();
        HeldFrame frame{video, std::vector<uint8_t>(video.payload, video.payload + video.size)};
        held.push_back(std::move(frame));
        if (qm::ToStoredMs(video.time, video.microseconds / 1000) < at) return true;
        found = true;
        return false;
    });
    const uint64_t damaged = walk.DamagedFrames(1u << channel);
    reader.CloseFile();
    if (!found)
        return Fail("camera " + std::to_string(*camera) + " has no frame at or after " +
                    qm::FormatClock(clock, at));

    RunSummary summary(clock);
    summary.AddDamaged(damaged);
    qm::VideoDecodeRecord decode;
    std::vector<uint8_t> picture(qm::kPictureBufferBytes);
    bool ok = false;
    for (HeldFrame& frame : held) {
        frame.record.payload = frame.payload.data();
        ok = qm::DecodeVideoFrame(frame.record, decode, picture.data());
        summary.AddFrame(channel,
                         qm::ToStoredMs(frame.record.time, frame.record.microseconds / 1000));
    }
    if (!ok) return Fail("the frame of camera " + std::to_string(*camera) + " cannot be decoded");

    const QImage image(picture.data(), decode.nWidth, decode.nHeight, decode.nWidth * 4,
                       QImage::Format_RGB32);
    if (!qm::WriteImageFile(outputs, image, *out, *format, error) || !outputs.Commit(error))
        return Fail(error);
    const qm::FrameRecord& saved = held.back().record;
    std::fprintf(
        stderr, "qmtool: saved camera %d at %s, frame %u, to %s\n", *camera,
        qm::FormatClock(clock, qm::ToStoredMs(saved.time, saved.microseconds / 1000)).c_str(),
        saved.sequence, out->c_str());
    std::fprintf(stderr, "%s\n", summary.Line().c_str());
    return summary.ExitStatus(args.has("--strict"));
}

} // namespace qmtool
