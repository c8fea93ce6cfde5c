// qmtool decode: decodes every video frame in delivery order with the player's
// decoders; prints counts and timings, or with --md5 one line per decoded
// picture: CAMERA,SEQ,MD5 of the decoder's native planes (rows packed).

#include "codec/decode_frame.h"
#include "codec/ffmpeg_library.h"
#include "tools/qmtool/commands.h"
#include "tools/qmtool/frame_walk.h"
#include "tools/qmtool/run_summary.h"
#include "tools/qmtool/source.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace qmtool {

namespace {

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// MD5 of the frame's planes in its native format, each row without padding.
bool FrameMd5(const AVFrame* frame, std::vector<uint8_t>& scratch, char hex[33]) {
    if (!qm::FfmpegLoaded()) return false;
    const auto format = AVPixelFormat(frame->format);
    const int size = qm::Ffmpeg().av_image_get_buffer_size(format, frame->width, frame->height, 1);
    if (size <= 0) return false;
    scratch.resize(size_t(size));
    if (qm::Ffmpeg().av_image_copy_to_buffer(scratch.data(), size, frame->data, frame->linesize,
                                             format, frame->width, frame->height, 1) < 0)
        return false;
    uint8_t digest[16];
    qm::Ffmpeg().av_md5_sum(digest, scratch.data(), size);
    for (int i = 0; i < 16; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return true;
}

struct ChannelState {
    qm::VideoDecodeRecord decode;
    uint64_t frames = 0, decoded = 0, failed = 0;
};

} // namespace

int RunDecode(const ParsedArgs& args) {
    if (args.positionals.size() != 1) return UsageError("decode needs one SOURCE");
    std::optional<int> only;
    if (auto text = args.value("--channel")) {
        only = parseCamera(*text);
        if (!only) return UsageError("--channel takes a camera number from 1 to 32");
    }
    const bool md5 = args.has("--md5");
    const bool json = args.has("--json");
    if (md5 && json) return UsageError("--md5 and --json cannot be combined");

    qm::CQMParseIndex reader;
    std::string error;
    if (!OpenSource(args.positionals[0], reader, error)) return Fail(error);
    if (only && !(reader.m_nChannelMask & (1u << (*only - 1))))
        return Fail(NotRecordedText(*only, reader.m_nChannelMask));
    RunSummary summary(ClockOf(reader, args));

    std::array<std::unique_ptr<ChannelState>, qm::kMaxChannels> channels;
    std::vector<uint8_t> scratch;
    // Every camera's pictures go into one buffer, as nothing keeps them: one
    // stays in the processor's cache where sixteen 1080p pictures would not
    // (a sixth of the CPU for 16 cameras of 1080p). Left uninitialised:
    // zero-filling 12 MiB cost more than decoding a short recording, and only
    // the rows a picture needs are touched.
    const std::unique_ptr<uint8_t[]> picture{new uint8_t[qm::kPictureBufferBytes]};
    double decodeSeconds = 0;
    const double cpuStart = CpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    FrameWalk walk(reader);
    walk.Run([&](const qm::FrameRecord& video) {
        if (video.channel >= qm::kMaxChannels || (only && video.channel != *only - 1)) return true;
        auto& ch = channels[video.channel];
        if (!ch) ch = std::make_unique<ChannelState>();
        ++ch->frames;
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = qm::DecodeVideoFrame(video, ch->decode, picture.get());
        decodeSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!ok) {
            // A picture the decoder refuses is damage the reader could not see.
            ++ch->failed;
            summary.AddDamaged(1);
            return true;
        }
        ++ch->decoded;
        summary.AddFrame(video.channel, qm::ToStoredMs(video.time, video.microseconds / 1000));
        if (md5) {
            char hex[33] = {};
            const qm::TVideoDecoder* decoder = ch->decode.pCtrl->Decoder();
            if (decoder && decoder->Codec() && FrameMd5(decoder->Codec()->Frame(), scratch, hex))
                std::printf("%d,%u,%s\n", video.channel + 1, video.sequence, hex);
        }
        return true;
    });
    summary.AddDamaged(walk.DamagedFrames(only ? 1u << (*only - 1) : 0xFFFFFFFFu));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double cpu = CpuSeconds() - cpuStart;

    uint64_t frames = 0, decoded = 0, failed = 0;
    Json cameras = Json::array();
    for (int c = 0; c < qm::kMaxChannels; ++c) {
        if (!channels[c]) continue;
        const ChannelState& ch = *channels[c];
        frames += ch.frames;
        decoded += ch.decoded;
        failed += ch.failed;
        cameras.push_back({{"camera", c + 1},
                           {"frames", ch.frames},
                           {"decoded", ch.decoded},
                           {"failed", ch.failed},
                           {"width", ch.decode.nWidth},
                           {"height", ch.decode.nHeight}});
    }
    if (json) {
        Json j = summary.ToJson("decode");
        j["cameras"] = cameras;
        j["wall_seconds"] = wall;
        j["cpu_seconds"] = cpu;
        j["decode_seconds"] = decodeSeconds;
        std::printf("%s\n", Dump(j).c_str());
    } else if (!md5) {
        std::printf("CAM   FRAMES  DECODED  FAILED  SIZE\n");
        for (const Json& camera : cameras)
            std::printf("%3d %8llu %8llu %7llu  %dx%d\n", camera["camera"].get<int>(),
                        camera["frames"].get<unsigned long long>(),
                        camera["decoded"].get<unsigned long long>(),
                        camera["failed"].get<unsigned long long>(), camera["width"].get<int>(),
                        camera["height"].get<int>());
        std::printf("total: %llu frames, %llu decoded, %llu failed\n", (unsigned long long)frames,
                    (unsigned long long)decoded, (unsigned long long)failed);
        std::printf("time: %.3f s wall, %.3f s cpu, %.3f s decoding and converting", wall, cpu,
                    decodeSeconds);
        if (decodeSeconds > 0) std::printf(" (%.1f frames/s)", double(decoded) / decodeSeconds);
        std::printf("\n");
    }
    if (std::fflush(stdout) != 0) return Fail("cannot write the listing");
    std::fprintf(stderr, "%s\n", summary.Line().c_str());
    return summary.ExitStatus(args.has("--strict"));
}

} // namespace qmtool
