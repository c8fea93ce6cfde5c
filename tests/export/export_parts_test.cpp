// The export's smaller parts: its own per-block offset lists, turning one
// recorded frame into an export frame, how sound is framed for the decoder
// control, the WAV writer and the names of the numbered segment files.

#include "codec/mpeg4_header.h"
#include "export/avi_writer.h"
#include "export/export_audio.h"
#include "export/export_channel_lists.h"
#include "export/export_frame_builder.h"
#include "export/save_avi_job.h"
#include "export/wav_writer.h"
#include "platform/output_files.h"

#include "export_test_support.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(ExportLists, ChannelRecordsAreTakenInOffsetOrder) {
    // Offsets in units of 32 bytes; the data area holds 100 units.
    std::vector<uint8_t> iTable(512), pTable(512);
    const std::pair<uint32_t, uint8_t> iRecords[] = {
        {10, 3}, {40, 3}, {20, 4}, {60, 255}, {100, 3}};
    const std::pair<uint32_t, uint8_t> pRecords[] = {{12, 3}, {40, 3}, {41, 3}, {13, 5}, {99, 3}};
    for (size_t i = 0; i < 5; ++i) {
        storeLE32(iTable.data() + i * 16 + 4, iRecords[i].first);
        iTable[i * 16 + 12] = iRecords[i].second;
        storeLE32(pTable.data() + i * 8, pRecords[i].first);
        pTable[i * 8 + 4] = pRecords[i].second;
    }
    ExportChannelLists lists;
    // Counts beyond the tables are not trusted.
    lists.Fill(ByteView(iTable.data(), 5 * 16), 1000, ByteView(pTable.data(), 512), 5, 100 * 32, 3,
               kByteOrderLittle);
    std::vector<uint32_t> pending, taken;
    lists.PendingOffsets(pending);
    std::vector<std::pair<uint32_t, bool>> order;
    while (auto item = lists.TakeNext()) {
        order.push_back({item->offset / 32, item->fromKeyList});
        taken.push_back(item->offset);
    }
    EXPECT_EQ(pending, taken);
    // Other channels, channel 255 and offsets past the data area are left
    // out; a tie goes to the other-frame list.
    const std::vector<std::pair<uint32_t, bool>> want = {{10, true}, {12, false}, {40, false},
                                                         {40, true}, {41, false}, {99, false}};
    EXPECT_EQ(order, want);
}

// A frame as it lies after its header: video area and, with sound, audio area.
struct Recorded {
    FrameHeader header;
    std::vector<uint8_t> payload;

    Recorded(bool key, int height, const std::vector<uint8_t>& video,
             const std::vector<uint8_t>& sound = {}, uint8_t audioByte = 0) {
        const uint32_t videoUnits = uint32_t(4 + video.size() + 31) / 32;
        const uint32_t audioUnits = sound.empty() ? 0 : uint32_t(4 + sound.size() + 31) / 32;
        payload.assign((videoUnits + audioUnits) * 32, 0);
        storeLE32(payload.data(), uint32_t(video.size()));
        std::copy(video.begin(), video.end(), payload.begin() + 4);
        if (audioUnits) {
            storeLE32(payload.data() + videoUnits * 32, uint32_t(sound.size()));
            std::copy(sound.begin(), sound.end(), payload.begin() + videoUnits * 32 + 4);
        }
        header.marker = kMagicFrame;
        header.time = 1700000000;
        header.milliseconds = 250;
        header.flags = key ? kFrameFlagKey : 0;
        header.width8 = 704 / 8;
        header.height8 = uint8_t(height / 8);
        header.length = uint16_t(1 + videoUnits + audioUnits);
        header.videoEnd = uint16_t(videoUnits);
        header.audioEnd = header.userDataEnd = uint16_t(videoUnits + audioUnits);
        header.audioTypeByte = audioByte;
    }
    std::optional<int> Build(ExportFrame& out, uint32_t codec,
                             IExportAudioDecoder* decoder = nullptr) const {
        const ExportFrameContext context{codec, kByteOrderLittle, decoder, decoder != nullptr};
        return BuildExportFrame(header, ByteView(payload.data(), payload.size()), context, out);
    }
};

TEST(ExportFrameBuilder, Mpeg4KeyFramesWithoutAStreamHeaderGetOneForTheirSize) {
    const std::vector<uint8_t> vop = {0x00, 0x00, 0x01, 0xB6, 0x10, 0x5A, 0x5A};
    std::vector<uint8_t> solo(64, 0xEE); // the recorder's prefix
    solo.insert(solo.end(), vop.begin(), vop.end());
    for (const auto& [height, last] : {std::pair{480, 0x38}, std::pair{240, 0x28}}) {
        ExportFrame frame;
        ASSERT_EQ(Recorded(true, height, solo).Build(frame, kCodecSOLO), 30 + int(vop.size()));
        const auto header = Mpeg4StreamHeader(704, height);
        const ByteView built = frame.Video();
        EXPECT_TRUE(std::equal(header.begin(), header.end(), built.data()));
        EXPECT_EQ(built.data()[27], last);
        EXPECT_TRUE(std::equal(vop.begin(), vop.end(), built.data() + 30));
        EXPECT_EQ(frame.videoKind, kAviVideoMpeg4);
        EXPECT_EQ(frame.subsecond, 250000u);
    }
    ExportFrame other;
    EXPECT_EQ(Recorded(false, 480, solo).Build(other, kCodecSOLO), int(vop.size()));
    // A key frame with its own header keeps it and gets no second one.
    std::vector<uint8_t> own = solo;
    own.insert(own.begin() + 64, {0x00, 0x00, 0x01, 0x20, 0x08});
    // The frame lends the recorded bytes: they must outlive it.
    const Recorded withHeader(true, 480, own);
    EXPECT_EQ(withHeader.Build(other, kCodecSOLO), int(vop.size()) + 5);
    EXPECT_EQ(other.Video().data()[3], 0x20);
}

TEST(ExportFrameBuilder, DamagedFramesAreSkippedWholeOnesLentAndPiecesJoinedInAGrownBuffer) {
    ExportFrame frame;
    Recorded lying(true, 240, std::vector<uint8_t>(100, 1));
    storeLE32(lying.payload.data(), 5000);
    EXPECT_FALSE(lying.Build(frame, kCodecH264));
    EXPECT_FALSE(Recorded(true, 240, std::vector<uint8_t>(10, 1)).Build(frame, kCodecSOLO));
    EXPECT_FALSE(Recorded(true, 240, {}).Build(frame, kCodecH264));
    Recorded cut(true, 240, std::vector<uint8_t>(100, 1));
    cut.payload.resize(50); // the block ends inside the frame
    EXPECT_FALSE(cut.Build(frame, kCodecH264));

    // A stream in one piece stays where the reader has it.
    frame.video.assign(16, 0);
    const Recorded whole(true, 240, std::vector<uint8_t>(70000, 3));
    EXPECT_EQ(whole.Build(frame, kCodecMJPG), 70000);
    EXPECT_EQ(frame.Video().data(), whole.payload.data() + 4);
    EXPECT_EQ(frame.Video().size(), 70000u);
    EXPECT_EQ(frame.videoKind, kAviVideoMjpeg);

    // A key frame in sections is joined in the frame's own buffer, grown for it.
    std::vector<uint8_t> sections;
    for (const uint32_t size : {9u, 4u, 70000u}) {
        std::vector<uint8_t> head(kChipSectionSize, 0);
        storeBE32(head.data() + kChipSectionLengthOffset, size);
        sections.insert(sections.end(), head.begin(), head.end());
        sections.insert(sections.end(), size, uint8_t(size));
    }
    const Recorded pieces(true, 240, sections);
    EXPECT_EQ(pieces.Build(frame, kCodecSTHD), 70013);
    EXPECT_EQ(frame.video.size(), 70013u + kExportVideoMargin);
    const ByteView joined = frame.Video();
    ASSERT_EQ(joined.size(), 70013u);
    EXPECT_EQ(joined.data(), frame.video.data());
    EXPECT_EQ(joined.data()[0], 9);
    EXPECT_EQ(joined.data()[9], 4);
    EXPECT_EQ(joined.data()[13], 0x70); // 70000 & 0xFF
    EXPECT_EQ(joined.data()[70012], 0x70);
}

// "Decodes" each byte of sound into two bytes; refuses type 9.
struct TypeNotingDecoder : IExportAudioDecoder {
    std::vector<int> types;
    bool Decode(uint8_t audioType, ByteView sound, std::vector<uint8_t>& pcm) override {
        types.push_back(audioType);
        pcm.assign(sound.size() * 2, audioType);
        return audioType != 9;
    }
};

TEST(ExportFrameBuilder, SoundIsDecodedByTheFramesOwnCodingType) {
    const std::vector<uint8_t> video(40, 1), sound(320, 0xFF);
    TypeNotingDecoder decoder;
    ExportFrame frame;
    ASSERT_TRUE(Recorded(true, 240, video, sound, 0x35).Build(frame, kCodecH264, &decoder));
    EXPECT_EQ(frame.audio.size(), 640u);
    ASSERT_TRUE(Recorded(true, 240, video, sound, 0x02).Build(frame, kCodecH264, &decoder));
    EXPECT_EQ(decoder.types, (std::vector<int>{5, 2}));
    // A type the decoder refuses leaves no stale sound from the frame before.
    ASSERT_TRUE(Recorded(true, 240, video, sound, 0x09).Build(frame, kCodecH264, &decoder));
    EXPECT_TRUE(frame.hasAudio);
    EXPECT_TRUE(frame.audio.empty());
    ASSERT_TRUE(Recorded(true, 240, video).Build(frame, kCodecH264, &decoder));
    EXPECT_FALSE(frame.hasAudio);
}

// Notes what the export asks of a decoder control and writes the first
// payload byte of each call over the output.
struct NotingCtrl {
    std::vector<int> types;
    std::vector<std::vector<uint8_t>> inputs;
    bool fail = false;
    int Prepare(int type, int) {
        types.push_back(type);
        return 0;
    }
    bool Decode(uint8_t* out, const uint8_t* data, int length) {
        inputs.emplace_back(data, data + length);
        const size_t n = types.back() == kDecoderTypeHisiG711 ? 640 : size_t(length) / 168 * 642;
        std::fill_n(out, n, data[types.back() == kDecoderTypeHisiG711 ? 4 : 0]);
        return !fail;
    }
};

TEST(ExportSound, PartsAndFramesAreHandedToTheDecoderControlAsItExpects) {
    std::vector<uint8_t> g711(960);
    for (size_t i = 0; i < g711.size(); ++i)
        g711[i] = uint8_t(i / 320 + 1);
    NotingCtrl ctrl;
    std::vector<uint8_t> pcm;
    ASSERT_TRUE(DecodeFrameSound(ctrl, kAudioTypeG711, ByteView(g711.data(), 960), pcm));
    ASSERT_EQ(pcm.size(), 1920u);
    ASSERT_EQ(ctrl.inputs.size(), 3u);
    for (size_t part = 0; part < 3; ++part) {
        const auto& in = ctrl.inputs[part];
        ASSERT_EQ(in.size(), 324u);
        EXPECT_EQ(std::vector<uint8_t>(in.begin(), in.begin() + 5),
                  (std::vector<uint8_t>{0x00, 0x01, 0xA0, 0x00, uint8_t(part + 1)}));
        EXPECT_EQ(pcm[part * 640 + 639], part + 1);
    }
    const std::vector<uint8_t> adpcm(336 + 100, 7); // a partial frame at the end is ignored
    ASSERT_TRUE(DecodeFrameSound(ctrl, kAudioTypeHisiAdpcm, ByteView(adpcm.data(), 436), pcm));
    EXPECT_EQ(pcm.size(), 1284u);
    EXPECT_EQ(ctrl.inputs.back().size(), 336u);
    EXPECT_EQ(ctrl.types, (std::vector<int>{kDecoderTypeHisiG711, kDecoderTypeHisiAdpcm}));

    EXPECT_FALSE(DecodeFrameSound(ctrl, 7, ByteView(adpcm.data(), 436), pcm));
    ctrl.fail = true;
    EXPECT_FALSE(DecodeFrameSound(ctrl, kAudioTypeG711, ByteView(g711.data(), 960), pcm));
    EXPECT_TRUE(pcm.empty());
}

TEST(ExportFiles, WavHeaderDescribesTheSamplesAndSegmentsAreNumbered) {
    const std::string path = test::TempPath("sound.wav");
    OutputFiles outputs;
    TWavWriter wav;
    ASSERT_TRUE(wav.Open(outputs, path, 8000));
    const std::vector<uint8_t> pcm(1001, 0x11);
    ASSERT_TRUE(wav.Append(pcm.data(), pcm.size()));
    ASSERT_TRUE(wav.Close());
    const auto bytes = test::ReadFile(path);
    ASSERT_EQ(bytes.size(), 44u + 1002u); // with a pad byte
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(loadLE32(bytes.data() + 4), bytes.size() - 8);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(loadLE32(bytes.data() + 24), 8000u);
    EXPECT_EQ(loadLE32(bytes.data() + 40), 1001u);
    EXPECT_FALSE(TWavWriter().Open(outputs, "/nonexistent-dir/a.wav", 8000));

    EXPECT_EQ(SegmentFileName("/tmp/CH03.avi", 1), "/tmp/CH03.avi");
    EXPECT_EQ(SegmentFileName("/tmp/CH03.avi", 2), "/tmp/CH03-002.avi");
    EXPECT_EQ(SegmentFileName("/tmp/CH03.avi", 3), "/tmp/CH03-003.avi");
    EXPECT_EQ(SegmentFileName("/tmp/clip", 2), "/tmp/clip-002.avi");
    // Only the final extension counts, not a folder that happens to contain it.
    EXPECT_EQ(SegmentFileName("/tmp/x.avi.d/clip.avi", 3), "/tmp/x.avi.d/clip-003.avi");
}

} // namespace
} // namespace qm
