// qmtool snapshot: the picture of one camera at a time, as the player shows
// it: the first frame at or after the time, decoded from its key frame, saved
// as JPEG, BMP or PNG by the file's extension.

#include "codec/decode_frame.h"
#include "tools/qmtool/commands.h"
#include "tools/qmtool/frame_walk.h"
#include "tools/qmtool/source.h"

#include <QImage>
#include <QImageWriter>
#include <QString>

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

namespace qmtool {

namespace {

std::optional<QByteArray> FormatFromExtension(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos) return std::nullopt;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (ext == "jpg" || ext == "jpeg") return QByteArray("jpg");
    if (ext == "bmp") return QByteArray("bmp");
    if (ext == "png") return QByteArray("png");
    return std::nullopt;
}

struct HeldFrame {
    qm::FrameRecord record;
    std::vector<uint8_t> payload;
};

} // namespace

int RunSnapshot(const ParsedArgs& args) {
    if (args.positionals.size() != 1) return UsageError("snapshot needs one SOURCE");
    const auto channelText = args.value("--channel");
    const auto timeText = args.value("--time");
    const auto out = args.value("--out");
    if (!channelText || !timeText || !out)
        return UsageError("snapshot needs --channel, --time and --out");
    const auto camera = parseCamera(*channelText);
    if (!camera) return UsageError("--channel takes a camera number from 1 to 32");
    const auto when = parseTime(*timeText);
    if (!when) return UsageError("--time takes UTC seconds or \"YYYY-MM-DD HH:MM:SS\"");
    const auto format = FormatFromExtension(*out);
    if (!format) return UsageError("--out must end in .jpg, .bmp or .png");
    const int channel = *camera - 1;

    qm::CQMParseIndex reader;
    std::string error;
    if (!OpenSource(args.positionals[0], reader, error)) return Fail(error);

    // Frames of the camera since its last key frame, up to the wanted one.
    std::vector<HeldFrame> held;
    bool found = false;
    FrameWalk walk(reader);
    walk.Run([&](const qm::FrameRecord& video) {
        if (video.channel != channel) return true;
        if (video.type == qm::kFrameTypeKey) held.clear();
        HeldFrame frame{video, std::vector<uint8_t>(video.payload, video.payload + video.size)};
        held.push_back(std::move(frame));
        if (video.time < *when) return true;
        found = true;
        return false;
    });
    reader.CloseFile();
    if (!found)
        return Fail("camera " + std::to_string(*camera) + " has no frame at or after the time");

    qm::VideoDecodeRecord decode;
    std::vector<uint8_t> picture(qm::kPictureBufferBytes);
    bool ok = false;
    for (HeldFrame& frame : held) {
        frame.record.payload = frame.payload.data();
        ok = qm::DecodeVideoFrame(frame.record, decode, picture.data());
    }
    if (!ok) return Fail("the frame of camera " + std::to_string(*camera) + " cannot be decoded");

    const QImage image(picture.data(), decode.nWidth, decode.nHeight, decode.nWidth * 4,
                       QImage::Format_RGB32);
    QImageWriter writer(QString::fromStdString(*out), *format);
    if (!writer.write(image)) return Fail(*out + ": " + writer.errorString().toStdString());
    return 0;
}

} // namespace qmtool
