// The generator checked from the reader's side: an archive written by mkrec is
// walked with the storage record parsers, each camera's video bytes are joined
// with their chip prefixes removed, and the ffmpeg command decodes that stream.
// Every decoded picture must carry the camera and frame number it was written as.

#include "storage/formats.h"
#include "tools/mkrec/frame_pattern.h"
#include "tools/mkrec/recording_generator.h"

#include "test_support.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace qm::test {
namespace {

struct ExtractedFrame {
    uint32_t sequence = 0;
    std::vector<uint8_t> stream;
};

// Channel -> frames in recorded order, read only through the storage parsers.
std::map<int, std::vector<ExtractedFrame>> extractStreams(const std::vector<uint8_t>& file) {
    std::map<int, std::vector<ExtractedFrame>> out;
    const ByteView all(file.data(), file.size());
    auto header =
        parseArchiveHeader(*all.sub(file.size() - kArchiveHeaderSize, kArchiveHeaderSize));
    EXPECT_TRUE(header);
    if (!header) return out;
    const uint8_t order = header->byteOrder;
    for (uint32_t i = 0; i < header->miniHeaderCount; ++i) {
        auto miniBytes = all.sub(header->miniTableOffset + i * kMiniHeaderSize, kMiniHeaderSize);
        EXPECT_TRUE(miniBytes);
        auto headerPos = blockHeaderPosition(i, header->blockSize);
        auto blockHeader = parseBlockHeader(*all.sub(*headerPos, kBlockHeaderSize), order);
        EXPECT_TRUE(blockHeader && blockHeader->hasMarker()) << "block " << i;
        if (!blockHeader || !blockHeader->hasMarker()) continue;
        auto geo =
            blockGeometry(i, header->blockSize, blockHeader->iSectors, blockHeader->pSectors);
        EXPECT_TRUE(geo);
        if (!geo) continue;
        const ByteView data = *all.sub(geo->dataPosition(), geo->dataLength);

        // Frames of one block in data-area order, from both tables.
        std::map<uint64_t, bool> offsets; // offset -> listed as key frame
        const ByteView iTable = *all.sub(geo->iTablePosition(), geo->iTableBytes);
        for (uint32_t k = 0; k < blockHeader->iFrameCount; ++k)
            if (auto rec = iFrameInfoAt(iTable, k, order))
                if (auto off = frameOffsetInData(rec->offsetUnits, data.size()))
                    offsets[*off] = true;
        const ByteView pTable = *all.sub(geo->pTablePosition(), geo->pTableBytes);
        for (uint32_t k = 0; k < blockHeader->pFrameCount; ++k)
            if (auto rec = pFrameInfoAt(pTable, k, order))
                if (auto off = frameOffsetInData(rec->offsetUnits, data.size()))
                    offsets[*off] = false;

        for (const auto& [offset, listedKey] : offsets) {
            auto frameHeader = parseFrameHeader(*data.sub(offset, kFrameHeaderSize), order);
            EXPECT_TRUE(frameHeader && frameHeader->hasMarker());
            if (!frameHeader) continue;
            EXPECT_EQ(frameHeader->isKey(), listedKey);
            auto payload = data.sub(offset + kFrameHeaderSize, frameHeader->payloadBytes());
            EXPECT_TRUE(payload);
            if (!payload) continue;
            const FrameAreas areas = locateFrameAreas(*frameHeader, *payload, order);
            EXPECT_TRUE(areas.video.valid);
            auto stream =
                extractVideoStream(header->codec, frameHeader->isKey(), areas.video.bytes);
            EXPECT_TRUE(stream);
            if (!stream) continue;
            out[frameHeader->channel].push_back({frameHeader->sequence, std::move(*stream)});
        }
    }
    return out;
}

// Decodes an elementary stream with the ffmpeg command into 8-bit grey pictures.
std::vector<uint8_t> ffmpegDecodeGrey(const std::string& streamPath, const char* format) {
    const std::string cmd = std::string("ffmpeg -v error -f ") + format + " -i '" + streamPath +
                            "' -f rawvideo -pix_fmt gray - 2>/dev/null";
    std::vector<uint8_t> out;
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        out.insert(out.end(), buf, buf + n);
    pclose(pipe);
    return out;
}

void expectFfmpegDecodesEveryFrame(const mkrec::RecordingPlan& plan, const char* name) {
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
    const std::string path = tempFile(name);
    mkrec::writeArchive(plan, path);
    auto streams = extractStreams(readFile(path));
    ASSERT_EQ(streams.size(), plan.channels.size());

    const int w = plan.defaultSize.width, h = plan.defaultSize.height;
    const uint32_t framesPerChannel = plan.durationSeconds * uint32_t(plan.fps);
    for (int channel : plan.channels) {
        auto& frames = streams[channel];
        ASSERT_EQ(frames.size(), framesPerChannel) << "camera " << channel + 1;
        const std::string streamPath = tempFile("cam" + std::to_string(channel) + ".es");
        std::ofstream es(streamPath, std::ios::binary);
        for (const auto& f : frames)
            es.write(reinterpret_cast<const char*>(f.stream.data()),
                     std::streamsize(f.stream.size()));
        es.close();

        const auto grey =
            ffmpegDecodeGrey(streamPath, plan.codec == mkrec::VideoCodec::MJPG ? "mjpeg" : "h264");
        ASSERT_EQ(grey.size(), size_t(w) * h * frames.size()) << "camera " << channel + 1;
        for (size_t i = 0; i < frames.size(); ++i) {
            auto seen = mkrec::decodePattern(grey.data() + i * size_t(w) * h, w, w, h);
            ASSERT_TRUE(seen) << "camera " << channel + 1 << " picture " << i;
            EXPECT_EQ(seen->channel, channel);
            EXPECT_EQ(uint32_t(seen->frame), frames[i].sequence);
        }
    }
}

mkrec::RecordingPlan extractionPlan() {
    mkrec::RecordingPlan plan;
    plan.channels = {0, 2};
    plan.durationSeconds = 3;
    plan.fps = 6;
    plan.defaultSize = {176, 144};
    plan.blockSize = 64 * 1024; // several blocks per camera
    return plan;
}

TEST(FormatExtraction, LittleEndianH264DecodesToTheWrittenFrames) {
    expectFfmpegDecodesEveryFrame(extractionPlan(), "le.avr");
}

TEST(FormatExtraction, BigEndianChipSectionsDecodeToTheWrittenFrames) {
    auto plan = extractionPlan();
    plan.byteOrder = 0;
    plan.codec = mkrec::VideoCodec::STCH;
    expectFfmpegDecodesEveryFrame(plan, "be.avr");
}

TEST(FormatExtraction, TwoGroupsWithPrefixDecodeToTheWrittenFrames) {
    auto plan = extractionPlan();
    plan.channels = {1, 17};
    plan.codec = mkrec::VideoCodec::HISI;
    expectFfmpegDecodesEveryFrame(plan, "two.avr");
}

TEST(FormatExtraction, MotionJpegDecodesToTheWrittenFrames) {
    auto plan = extractionPlan();
    plan.codec = mkrec::VideoCodec::MJPG;
    expectFfmpegDecodesEveryFrame(plan, "mjpg.avr");
}

} // namespace
} // namespace qm::test
