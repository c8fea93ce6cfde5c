// qmtool export into MP4 and Matroska, read back through libavformat: the
// pictures are the recorded bytes at their recorded times, gaps included, the
// clock is there as subtitles, and a run over several cameras writes what
// single-camera runs write.

#include "export/archive_frame_reader.h"
#include "export/multi_camera_export.h"
#include "platform/output_files.h"
#include "platform/recorded_time.h"
#include "storage/file_reader.h"

#include "export_test_support.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace qm {
namespace {

using test::Qmtool;

struct Packet {
    int64_t ms = 0; // pts in milliseconds
    bool key = false;
    std::vector<uint8_t> data;
};

struct ReadBack {
    std::string creationTime;
    std::map<AVMediaType, std::vector<Packet>> packets;
    std::map<AVMediaType, AVCodecID> codecs;
    int audioRate = 0;
};

ReadBack Demux(const std::string& path) {
    ReadBack r;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0) return r;
    avformat_find_stream_info(ctx, nullptr);
    if (const AVDictionaryEntry* e = av_dict_get(ctx->metadata, "creation_time", nullptr, 0))
        r.creationTime = e->value;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVCodecParameters* par = ctx->streams[i]->codecpar;
        r.codecs[par->codec_type] = par->codec_id;
        r.packets[par->codec_type];
        if (par->codec_type == AVMEDIA_TYPE_AUDIO) r.audioRate = par->sample_rate;
    }
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(ctx, pkt) >= 0) {
        const AVStream* st = ctx->streams[pkt->stream_index];
        Packet p;
        p.ms = av_rescale_q(pkt->pts, st->time_base, AVRational{1, 1000});
        p.key = pkt->flags & AV_PKT_FLAG_KEY;
        p.data.assign(pkt->data, pkt->data + pkt->size);
        r.packets[st->codecpar->codec_type].push_back(std::move(p));
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ctx);
    return r;
}

// The NAL units of an H.264 access unit, Annex B or 4-byte length-prefixed as
// the containers store it, without start codes or trailing zeros.
std::vector<std::vector<uint8_t>> NalUnits(const std::vector<uint8_t>& au, bool annexB) {
    std::vector<std::vector<uint8_t>> nals;
    if (!annexB) {
        for (size_t at = 0; at + 4 <= au.size();) {
            const size_t n = size_t(au[at]) << 24 | size_t(au[at + 1]) << 16 |
                             size_t(au[at + 2]) << 8 | au[at + 3];
            if (n > au.size() - at - 4) return {};
            nals.emplace_back(au.begin() + at + 4, au.begin() + at + 4 + n);
            at += 4 + n;
        }
        return nals;
    }
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= au.size(); ++i)
        if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) starts.push_back(i + 3);
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : au.size();
        while (end > starts[k] && au[end - 1] == 0)
            --end;
        nals.emplace_back(au.begin() + starts[k], au.begin() + end);
    }
    return nals;
}

// The camera's frames as the export reads them, straight from the archive.
std::vector<Packet> RecordedFrames(const std::string& archive, int channel) {
    std::vector<Packet> frames;
    const int fd = OpenReadOnly(archive);
    TArchiveFrameReader reader;
    if (fd < 0 || !reader.bBuildBlockIndexList_AVI(fd, channel)) return frames;
    ExportFrame frame;
    while (reader.ReadFrame(frame) >= 0) {
        const ByteView video = frame.Video();
        frames.push_back(Packet{ToStoredMs(frame.seconds, frame.subsecond / 1000),
                                frame.key,
                                {video.data(), video.data() + video.size()}});
    }
    ::close(fd);
    return frames;
}

bool PlaysSilently(const std::string& path) {
    std::string out, err;
    return test::RunCommand("ffmpeg -nostdin -v error -i " + path + " -f null -", out, &err) == 0 &&
           out.empty() && err.empty();
}

class MuxExport : public ::testing::Test {
protected:
    static mkrec::RecordingPlan Plan() {
        auto plan = test::SmallPlan();
        plan.durationSeconds = 6;
        plan.gaps = {{2, 4}};
        plan.audio = {{0, 5}};
        return plan;
    }
};

TEST_F(MuxExport, PicturesAreTheRecordedBytesAtTheirRecordedTimes) {
    const auto plan = Plan();
    const std::string archive = test::WriteArchive(plan);
    const auto recorded = RecordedFrames(archive, 0);
    ASSERT_EQ(recorded.size(), 4u * 8u); // 6 seconds less the 2-second gap
    ASSERT_TRUE(recorded.front().key);
    const int64_t t0 = recorded.front().ms;
    std::vector<uint8_t> track; // Matroska's sound as MP4 should carry it
    for (const std::string format : {"mkv", "mp4"}) {
        SCOPED_TRACE(format);
        const std::string out = test::TempPath("cam1." + format);
        const auto o = Qmtool("export --channel 1 --out " + out + " " + archive);
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out, out + "\n" + out + ".manifest.json\n");
        EXPECT_TRUE(PlaysSilently(out));
        // The manifest's per-picture hashes hold for the reframed units too.
        const auto verified = Qmtool("verify " + out + ".manifest.json");
        EXPECT_EQ(verified.status, 0) << verified.out << verified.err;

        const ReadBack back = Demux(out);
        EXPECT_EQ(back.creationTime, "2023-11-14T22:13:20.000000Z");
        EXPECT_EQ(back.codecs.at(AVMEDIA_TYPE_VIDEO), AV_CODEC_ID_H264);
        const auto& video = back.packets.at(AVMEDIA_TYPE_VIDEO);
        ASSERT_EQ(video.size(), recorded.size());
        for (size_t i = 0; i < video.size(); ++i) {
            EXPECT_EQ(video[i].ms, recorded[i].ms - t0) << i;
            EXPECT_EQ(video[i].key, recorded[i].key) << i;
            EXPECT_EQ(NalUnits(video[i].data, false), NalUnits(recorded[i].data, true)) << i;
        }
        // The gap stays a gap: two seconds between the pictures around it.
        EXPECT_EQ(video[16].ms - video[15].ms, 2000 + 125);

        // One cue per recorded second with pictures, showing that second
        // (MP4 fills the time between cues with empty ones).
        std::vector<Packet> clock;
        for (const Packet& cue : back.packets.at(AVMEDIA_TYPE_SUBTITLE))
            if (cue.data.size() > (format == "mp4" ? 2u : 0u)) clock.push_back(cue);
        ASSERT_EQ(clock.size(), 4u);
        const std::string first(clock[0].data.begin(), clock[0].data.end());
        const std::string third(clock[2].data.begin(), clock[2].data.end());
        EXPECT_NE(first.find("2023-11-14 22:13:20"), std::string::npos) << first;
        EXPECT_NE(third.find("2023-11-14 22:13:24"), std::string::npos) << third;
        EXPECT_EQ(clock[2].ms, 4000);

        if (format == "mkv") {
            // The sound of every picture starts with it.
            EXPECT_EQ(back.codecs.at(AVMEDIA_TYPE_AUDIO), AV_CODEC_ID_PCM_S16LE);
            EXPECT_EQ(back.audioRate, 8000);
            const auto& sound = back.packets.at(AVMEDIA_TYPE_AUDIO);
            ASSERT_EQ(sound.size(), video.size());
            size_t bytes = 0;
            for (size_t i = 0; i < sound.size(); ++i) {
                EXPECT_EQ(sound[i].ms, video[i].ms) << i;
                bytes += sound[i].data.size();
            }
            EXPECT_EQ(bytes, recorded.size() * 1000 * 2); // 1/8 s of 8000 Hz each
            // As one continuous track: the samples one after another, and
            // silence up to a picture whose sound would begin more than
            // 100 ms after them (the gap).
            for (const Packet& p : sound) {
                const size_t at = size_t(p.ms) * 8 * 2;
                if (at > track.size() + 800 * 2) track.resize(at);
                track.insert(track.end(), p.data.begin(), p.data.end());
            }
        } else {
            // MP4 takes no PCM: the same samples as ALAC, one continuous
            // track with the gap filled by silence, so it stays in step.
            EXPECT_EQ(back.codecs.at(AVMEDIA_TYPE_AUDIO), AV_CODEC_ID_ALAC);
            EXPECT_EQ(back.audioRate, 8000);
            const std::string raw = test::TempPath("cam1-sound.raw");
            std::string stdoutText, err;
            ASSERT_EQ(test::RunCommand("ffmpeg -nostdin -v error -y -i " + out +
                                           " -map 0:a -f s16le " + raw,
                                       stdoutText, &err),
                      0)
                << err;
            EXPECT_EQ(test::ReadFile(raw), track);
        }
    }
}

TEST_F(MuxExport, ASizeChangeStaysInOneFileThatPlays) {
    auto plan = test::SmallPlan(mkrec::VideoCodec::SOLO);
    plan.sizeChanges = {{2, {352, 240}}};
    const std::string archive = test::WriteArchive(plan);
    for (const std::string format : {"mp4", "mkv"}) {
        SCOPED_TRACE(format);
        const std::string out = test::TempPath("sized." + format);
        const auto o =
            Qmtool("export --channel 2 --format " + format + " --out " + out + " " + archive);
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out, out + "\n" + out + ".manifest.json\n");
        EXPECT_TRUE(PlaysSilently(out));
        // The manifest's per-picture hashes hold for the reframed units too.
        const auto verified = Qmtool("verify " + out + ".manifest.json");
        EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
        std::string widths;
        ASSERT_EQ(test::RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                   "frame=width -of csv=p=0 " +
                                       out,
                                   widths),
                  0);
        EXPECT_EQ(widths, [] {
            std::string w;
            for (int i = 0; i < 32; ++i)
                w += i < 16 ? "176\n" : "352\n";
            return w;
        }());
        EXPECT_EQ(Demux(out).codecs.at(AVMEDIA_TYPE_VIDEO), AV_CODEC_ID_MPEG4);
    }
    // A name that says another format than --format is refused.
    EXPECT_EQ(
        Qmtool("export --channel 1 --format mkv --out " + test::TempPath("x.mp4") + " " + archive)
            .status,
        2);
}

TEST_F(MuxExport, EveryCameraInOneRunWritesWhatOneAtATimeWrites) {
    auto plan = Plan();
    plan.channels = {0, 1, 16}; // two read together, one in the other group alone
    plan.sizeChanges = {{4, {352, 240}}};
    const std::string archive = test::WriteArchive(plan);
    for (const std::string format : {"mp4", "mkv", "avi"}) {
        SCOPED_TRACE(format);
        const std::string folder = test::TempPath("all-" + format);
        const std::string formatArg = format == "avi" ? "" : " --format " + format;
        const auto all =
            Qmtool("export --channel all" + formatArg + " --out " + folder + " " + archive);
        ASSERT_EQ(all.status, 0) << all.err;
        std::vector<std::string> expected;
        for (int camera : {1, 2, 17}) {
            const std::string single =
                test::TempPath("single" + std::to_string(camera) + "." + format);
            const auto one = Qmtool("export --channel " + std::to_string(camera) + " --out " +
                                    single + " " + archive);
            ASSERT_EQ(one.status, 0) << one.err;
            const std::string ch = (camera < 10 ? "/CH0" : "/CH") + std::to_string(camera);
            const std::string name = folder + ch + "." + format;
            expected.push_back(name);
            EXPECT_EQ(test::ReadFile(name), test::ReadFile(single)) << name;
            if (format == "avi") {
                // The numbered file after the size change comes along.
                const std::string next = folder + ch + "-002.avi";
                expected.push_back(next);
                EXPECT_EQ(
                    test::ReadFile(next),
                    test::ReadFile(test::TempPath("single" + std::to_string(camera) + "-002.avi")));
            }
        }
        std::string listed;
        for (const auto& name : expected)
            listed += name + "\n";
        EXPECT_EQ(all.out, listed + folder + "/manifest.json\n");
        const auto verified = Qmtool("verify " + folder + "/manifest.json");
        EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
        // A second run meets the files of the first: refused without --force.
        const std::string again = "export --channel 2,1,17" + formatArg + " --out " + folder + " ";
        const auto refused = Qmtool(again + archive);
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
        EXPECT_EQ(Qmtool(again + "--force " + archive).status, 0);
    }
    // A key frame further before --from than the shared pass looks: that
    // camera is read again alone, and its file is still the same.
    auto sparse = test::SmallPlan();
    sparse.durationSeconds = 20;
    sparse.gop = 8 * 15;
    const std::string sparseArchive = test::WriteArchive(sparse);
    const std::string from = " --from +14 --format mkv --out ";
    ASSERT_EQ(Qmtool("export --channel all" + from + test::TempPath("sparse") + " " + sparseArchive)
                  .status,
              0);
    ASSERT_EQ(
        Qmtool("export --channel 2" + from + test::TempPath("sparse2.mkv") + " " + sparseArchive)
            .status,
        0);
    EXPECT_EQ(test::ReadFile(test::TempPath("sparse/CH02.mkv")),
              test::ReadFile(test::TempPath("sparse2.mkv")));
    EXPECT_EQ(Demux(test::TempPath("sparse2.mkv")).packets.at(AVMEDIA_TYPE_VIDEO).size(),
              20u * 8u); // from the key frame at 0 s
    // A folder's name that is a file is refused, and so is one WAV for several cameras.
    EXPECT_EQ(Qmtool("export --channel all --out " + archive + " " + archive).status, 1);
    EXPECT_EQ(Qmtool("export --channel 1,2 --audio-wav " + test::TempPath("a.wav") + " --out " +
                     test::TempPath("f") + " " + archive)
                  .status,
              2);
}

TEST_F(MuxExport, HooksHearOfEveryPictureAndEveryFile) {
    auto plan = Plan();
    plan.sizeChanges = {{4, {352, 240}}};
    const std::string archive = test::WriteArchive(plan);
    const auto recorded = RecordedFrames(archive, 1);
    for (const ExportFormat format : {ExportFormat::kAvi, ExportFormat::kMkv}) {
        const std::string ext = ExportFormatExtension(format);
        SCOPED_TRACE(ext);
        OutputFiles outputs(true);
        SaveAviRequest request;
        request.sourcePath = archive;
        request.outputs = &outputs;
        request.format = format;
        std::map<int, std::vector<int64_t>> pictures;
        std::vector<ExportOutputDone> files;
        request.hooks.onPicture = [&](int channel, const ExportFrame& frame) {
            EXPECT_EQ(channel, frame.channel);
            pictures[channel].push_back(ToStoredMs(frame.seconds, frame.subsecond / 1000));
        };
        request.hooks.onOutputDone = [&](const ExportOutputDone& done) { files.push_back(done); };
        TMultiCameraExport all(
            request, {{0, test::TempPath("h1." + ext)}, {1, test::TempPath("h2." + ext)}});
        ASSERT_TRUE(all.Run()) << all.Error();
        std::string error;
        ASSERT_TRUE(outputs.Commit(error)) << error;

        ASSERT_EQ(pictures[1].size(), recorded.size());
        for (size_t i = 0; i < recorded.size(); ++i)
            EXPECT_EQ(pictures[1][i], recorded[i].ms) << i;
        // AVI starts a file at the size change; the others stay one file.
        ASSERT_EQ(files.size(), format == ExportFormat::kAvi ? 4u : 2u);
        EXPECT_EQ(all.Files().size(), files.size());
        uint64_t counted = 0;
        for (const ExportOutputDone& done : files) {
            EXPECT_NE(std::find(all.Files().begin(), all.Files().end(), done.path),
                      all.Files().end())
                << done.path;
            if (done.channel != 1) continue;
            if (counted == 0) EXPECT_EQ(done.first, recorded.front().ms);
            counted += done.pictures;
            if (counted == recorded.size()) EXPECT_EQ(done.last, recorded.back().ms);
        }
        EXPECT_EQ(counted, recorded.size());
    }
}

} // namespace
} // namespace qm
