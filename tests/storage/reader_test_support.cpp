#include "reader_test_support.h"

#include "tests/process_temp_dir.h"

#include "platform/wall_clock.h"
#include "tools/mkrec/frame_schedule.h"
#include "tools/mkrec/recording_generator.h"
#include "tools/mkrec/test_picture.h"
#include "tools/mkrec/tone_audio.h"
#include "tools/mkrec/video_encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace qm::test {

std::string TempPath(const std::string& name) {
    static const ProcessTempDir process("storage");
    return (process.ForCurrentTest() / name).string();
}

mkrec::RecordingPlan SmallPlan() {
    mkrec::RecordingPlan plan;
    plan.channels = {0, 1};
    plan.durationSeconds = 4;
    plan.fps = 8;
    plan.gop = 4;
    plan.defaultSize = {176, 144};
    plan.blockSize = 8192;
    plan.quality = 40;
    return plan;
}

std::string WriteArchive(const mkrec::RecordingPlan& plan, const std::string& name) {
    mkrec::quietCodecLog();
    const std::string path = TempPath(name);
    mkrec::writeArchive(plan, path);
    return path;
}

std::vector<ExpectedFrame> ExpectedFrames(const mkrec::RecordingPlan& plan) {
    mkrec::quietCodecLog();
    std::vector<ExpectedFrame> all;
    for (int c : plan.channels) {
        mkrec::FrameSchedule schedule(plan);
        std::unique_ptr<mkrec::VideoEncoder> encoder;
        mkrec::Picture picture;
        std::optional<mkrec::ToneTrack> tone;
        if (auto it = plan.audio.find(c); it != plan.audio.end()) tone.emplace(it->second);
        uint32_t keys = 0;
        const std::string title = plan.titleFor(c);
        while (auto when = schedule.next()) {
            const mkrec::PictureSize size = plan.sizeAt(c, when->secondAfterStart);
            if (!encoder || encoder->settings().width != size.width ||
                encoder->settings().height != size.height) {
                encoder = std::make_unique<mkrec::VideoEncoder>(mkrec::EncoderSettings{
                    plan.codec, size.width, size.height, plan.fps, plan.quality});
                picture = mkrec::Picture(size.width, size.height);
            }
            mkrec::drawTestPicture(picture, c, uint32_t(when->tick), title);
            ExpectedFrame f;
            f.channel = c;
            f.time = when->time;
            f.ms = when->milliseconds;
            f.key = when->key;
            f.sequence = uint32_t(when->tick);
            if (f.key) ++keys;
            f.index = uint16_t(keys - 1);
            f.width = size.width;
            f.height = size.height;
            f.stream = encoder->encode(picture, when->key).bytes;
            if (tone) {
                if (when->afterGap) tone->skipToFrame(when->tick, plan.fps);
                f.audioType = tone->type();
                f.audioBytes = tone->takeForFrame(when->tick, plan.fps).size();
            }
            all.push_back(std::move(f));
        }
    }
    std::stable_sort(all.begin(), all.end(), [](const ExpectedFrame& a, const ExpectedFrame& b) {
        if (a.time != b.time) return a.time < b.time;
        if (a.ms != b.ms) return a.ms < b.ms;
        return a.channel < b.channel;
    });
    return all;
}

namespace {

bool AnySlotReady(const CQMParseIndex& reader) {
    for (int c = 0; c < kMaxChannels; ++c)
        if (reader.FrameStateOf(c) == kSlotReady) return true;
    return false;
}

template <typename Take>
std::vector<Delivered> ReadLoop(CQMParseIndex& reader, const ReadLimits& limits,
                                ReadOutcome* outcome, Take take) {
    std::vector<uint8_t> videoBuf(kVideoPayloadCapacity), audioBuf(kAudioPayloadCapacity),
        extraBuf(kExtraPayloadCapacity);
    FrameRecord video{}, audio{}, extra{};
    video.payload = videoBuf.data();
    audio.payload = audioBuf.data();
    extra.payload = extraBuf.data();
    std::vector<Delivered> out;
    const int64_t deadline = WallClockMs() + limits.deadlineMs;
    ReadOutcome local;
    ReadOutcome& result = outcome ? *outcome : local;
    result = {};
    while (out.size() < limits.maxFrames) {
        if (WallClockMs() > deadline) {
            result.timedOut = true;
            break;
        }
        if (!reader.WaitForPreparedSlots(limits.stallMs)) ++result.stalls;
        if (!AnySlotReady(reader)) break;
        const int got = take(&video, &audio, &extra);
        if (limits.prepareHere)
            reader.PrepareHere();
        else
            reader.SignalPrepare();
        if (got != 1) continue;
        Delivered d;
        d.video = video;
        d.video.payload = nullptr;
        const uint32_t size = video.size;
        d.bytes.assign(video.payload, video.payload + std::min(size, kVideoPayloadCapacity));
        d.audioCodec = audio.codec;
        d.audioSize = audio.size;
        d.index = reader.LastDeliveredIndex();
        out.push_back(std::move(d));
        audio.size = 0;
        audio.codec = 0;
    }
    return out;
}

} // namespace

std::vector<Delivered> ReadForward(CQMParseIndex& reader, const ReadLimits& limits,
                                   ReadOutcome* outcome) {
    const int keysOnly = limits.keyFramesOnly ? 1 : 0;
    return ReadLoop(reader, limits, outcome, [&](FrameRecord* v, FrameRecord* a, FrameRecord* e) {
        return reader.GetNextFrame(v, keysOnly, a, 1, e, 1);
    });
}

std::vector<Delivered> ReadReverse(CQMParseIndex& reader, const ReadLimits& limits,
                                   ReadOutcome* outcome) {
    return ReadLoop(reader, limits, outcome, [&](FrameRecord* v, FrameRecord*, FrameRecord*) {
        return reader.GetPrevFrame(v);
    });
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return h;
}

ArchiveMap MapArchive(const std::vector<uint8_t>& file) {
    ArchiveMap map;
    if (file.size() < kArchiveHeaderSize) throw std::runtime_error("no archive header");
    map.headerPosition = file.size() - kArchiveHeaderSize;
    auto header =
        parseArchiveHeader(ByteView(file.data() + map.headerPosition, kArchiveHeaderSize));
    if (!header) throw std::runtime_error("bad archive header");
    map.byteOrder = header->byteOrder;
    map.miniTable = header->miniTableOffset;
    map.miniCount = header->miniHeaderCount;
    map.blockSize = header->blockSize;
    map.blocksPerGroup.assign(size_t(header->groups()), 0);
    const uint64_t B = map.blockSize;
    for (uint32_t i = 0; i < map.miniCount; ++i) {
        auto mini = parseMiniHeader(
            ByteView(file.data() + map.miniTable + uint64_t(i) * kMiniHeaderSize, kMiniHeaderSize),
            map.byteOrder);
        if (!mini) throw std::runtime_error("bad mini header");
        ++map.blocksPerGroup.at(header->groups() == 1 ? 0 : mini->group);
        auto bh = parseBlockHeader(
            ByteView(file.data() + (i + 1) * B - kBlockHeaderSize, kBlockHeaderSize),
            map.byteOrder);
        auto geo = bh ? blockGeometry(i, map.blockSize, bh->iSectors, bh->pSectors) : std::nullopt;
        if (!geo) throw std::runtime_error("bad block header");
        BlockLocation loc;
        loc.start = geo->blockStart;
        loc.pTable = geo->pTablePosition();
        loc.iTable = geo->iTablePosition();
        loc.header = geo->headerPosition();
        loc.dataLength = geo->dataLength;
        map.blocks.push_back(loc);
        ByteView iTable(file.data() + loc.iTable, geo->iTableBytes);
        for (uint32_t r = 0; r < bh->iFrameCount; ++r) {
            auto rec = iFrameInfoAt(iTable, r, map.byteOrder);
            if (!rec) break;
            map.frames.push_back(
                {loc.start + uint64_t(rec->offsetUnits) * kUnitSize, rec->channel, true, i});
        }
        ByteView pTable(file.data() + loc.pTable, geo->pTableBytes);
        for (uint32_t r = 0; r < bh->pFrameCount; ++r) {
            auto rec = pFrameInfoAt(pTable, r, map.byteOrder);
            if (!rec) break;
            map.frames.push_back(
                {loc.start + uint64_t(rec->offsetUnits) * kUnitSize, rec->channel, false, i});
        }
    }
    return map;
}

ToolResult RunQmtool(const std::string& arguments, const std::string& zone) {
    const char* env = std::getenv("QMTOOL");
    const std::string tool = env && *env ? env : QM_QMTOOL_PATH;
    const std::string errPath = TempPath("qmtool.stderr");
    ToolResult r;
    FILE* p = ::popen(
        ("TZ='" + zone + "' " + tool + " " + arguments + " 2>'" + errPath + "'").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto err = ReadBytes(errPath);
    r.err.assign(err.begin(), err.end());
    return r;
}

void PutHeader32(std::vector<uint8_t>& file, size_t offset, uint32_t value) {
    uint8_t* h = file.data() + file.size() - kArchiveHeaderSize;
    if (h[46] == kByteOrderLittle)
        storeLE32(h + offset, value);
    else
        storeBE32(h + offset, value);
}

} // namespace qm::test
