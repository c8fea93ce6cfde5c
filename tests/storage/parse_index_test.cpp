// The storage reader on generated archives: what it reports at open, the
// frames it hands out forward and in reverse, and seeking by time.

#include "reader_test_support.h"

#include "platform/wall_clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <qm_version.h>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qm;
using namespace qm::test;
using mkrec::RecordingPlan;
using mkrec::VideoCodec;

namespace {

std::string Describe(const ExpectedFrame& e) {
    std::ostringstream s;
    s << "CH" << e.channel << " seq " << e.sequence << (e.key ? " I " : " P ") << e.time << "."
      << e.ms;
    return s.str();
}

// Compares one delivered record with the frame that was written. Returns an
// empty string when they agree.
std::string Mismatch(const Delivered& d, const ExpectedFrame& e, uint32_t codec, bool forward) {
    std::ostringstream s;
    const FrameRecord& r = d.video;
    if (r.channel != e.channel) s << " channel " << r.channel;
    if (r.sequence != e.sequence) s << " seq " << r.sequence;
    if (r.type != (e.key ? kFrameTypeKey : kFrameTypeOther)) s << " type " << r.type;
    if (r.time != e.time) s << " time " << r.time;
    if (r.microseconds != uint32_t(e.ms) * 1000) s << " us " << r.microseconds;
    if (d.index != e.index) s << " index " << d.index;
    if (r.width != e.width || r.height != e.height)
        s << " size " << r.width << "x" << r.height << " (want " << e.width << "x" << e.height
          << ")";
    if (r.codec != codec) s << " codec " << std::hex << r.codec << std::dec;
    if (r.recordLength != 128) s << " record length " << int(r.recordLength);
    if (d.bytes != e.stream)
        s << " video bytes differ (" << d.bytes.size() << " vs " << e.stream.size() << ")";
    if (forward && (d.audioSize != e.audioBytes || (e.audioBytes && d.audioCodec != e.audioType)))
        s << " audio " << d.audioCodec << ":" << d.audioSize;
    return s.str();
}

void ExpectSameFrames(const std::vector<Delivered>& got, const std::vector<ExpectedFrame>& want,
                      uint32_t codec, bool forward) {
    const size_t n = std::min(got.size(), want.size());
    for (size_t i = 0; i < n; ++i) {
        const std::string m = Mismatch(got[i], want[i], codec, forward);
        if (!m.empty()) {
            ADD_FAILURE() << "frame " << i << ", expected " << Describe(want[i]) << ":" << m;
            return; // the rest would only repeat the shift
        }
    }
    EXPECT_EQ(got.size(), want.size());
}

// Forward records name the frame's coding; MPEG-4 keeps the recording's code.
uint32_t ForwardCodec(const RecordingPlan& plan) {
    if (plan.codec == VideoCodec::MJPG) return kCodecMJPG;
    return plan.codec == VideoCodec::SOLO ? kCodecSOLO : kCodecH264;
}

uint32_t RecordingCodec(VideoCodec codec) {
    switch (codec) {
    case VideoCodec::HISI:
        return kCodecHISI;
    case VideoCodec::SOLO:
        return kCodecSOLO;
    case VideoCodec::STCH:
        return kCodecSTCH;
    case VideoCodec::STHD:
        return kCodecSTHD;
    case VideoCodec::MJPG:
        return kCodecMJPG;
    case VideoCodec::H264:
        break;
    }
    return kCodecH264;
}

// The frames a forward seek to `t` must deliver: every channel from its first
// key frame at or after t.
std::vector<ExpectedFrame> FromKeyAtOrAfter(const std::vector<ExpectedFrame>& all, uint32_t t) {
    std::map<int, bool> started;
    std::vector<ExpectedFrame> out;
    for (const ExpectedFrame& f : all) {
        if (!started[f.channel] && f.key && f.time >= t) started[f.channel] = true;
        if (started[f.channel]) out.push_back(f);
    }
    return out;
}

// The key frames a reverse seek to `t` must deliver, latest first: every
// channel from its first key frame at or after t back to the start.
std::vector<ExpectedFrame> KeysDownFrom(const std::vector<ExpectedFrame>& all, uint32_t t) {
    std::map<int, const ExpectedFrame*> first;
    for (const ExpectedFrame& f : all)
        if (f.key && f.time >= t && !first.count(f.channel)) first[f.channel] = &f;
    std::vector<ExpectedFrame> out;
    for (const ExpectedFrame& f : all) {
        auto it = first.find(f.channel);
        if (f.key && it != first.end() && f.sequence <= it->second->sequence) out.push_back(f);
    }
    std::stable_sort(out.begin(), out.end(), [](const ExpectedFrame& a, const ExpectedFrame& b) {
        if (a.time != b.time) return a.time > b.time;
        if (a.ms != b.ms) return a.ms > b.ms;
        return a.channel < b.channel;
    });
    return out;
}

} // namespace

// ---------------------------------------------------------------------------
// Opening

TEST(ParseIndexOpen, ReportsWhatWasWritten) {
    struct Case {
        const char* name;
        std::vector<int> channels;
        uint8_t byteOrder;
        VideoCodec codec;
        uint8_t timeOffset;
    };
    const Case cases[] = {
        {"little", {0, 1}, 1, VideoCodec::H264, 0},
        {"big_two_groups", {1, 3, 16, 31}, 0, VideoCodec::STHD, 17},
        {"mjpeg_second_group_only", {20}, 1, VideoCodec::MJPG, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPlan plan = SmallPlan();
        plan.channels = c.channels;
        plan.byteOrder = c.byteOrder;
        plan.codec = c.codec;
        plan.timeOffset = c.timeOffset;
        plan.durationSeconds = 3;
        const std::string path = WriteArchive(plan, std::string(c.name) + ".avr");
        const auto file = ReadBytes(path);
        const ArchiveMap map = MapArchive(file);

        CQMParseIndex reader;
        ASSERT_EQ(reader.OpenFile(path), 1);
        EXPECT_EQ(reader.m_nChannelMask, plan.channelMask());
        EXPECT_EQ(reader.GroupCount(), plan.twoGroups() ? 2 : 1);
        EXPECT_EQ(reader.m_nCodec, RecordingCodec(c.codec));
        EXPECT_EQ(reader.m_nByteOrder, c.byteOrder);
        EXPECT_EQ(reader.m_nStartTime, plan.start);
        EXPECT_EQ(reader.m_nEndTime, plan.start + plan.durationSeconds - 1);
        EXPECT_EQ(reader.m_nTimeOffset, c.timeOffset * 1800);
        EXPECT_EQ(reader.m_nBlockSize, plan.blockSize);
        EXPECT_EQ(reader.m_llTotalSize.load(), file.size());
        ASSERT_EQ(map.blocksPerGroup.size(), size_t(reader.GroupCount()));
        for (int g = 0; g < reader.GroupCount(); ++g)
            EXPECT_EQ(reader.BlockCount(g), map.blocksPerGroup[g]) << "group " << g;
        EXPECT_GT(map.blocks.size(), 2u) << "the recording should span several blocks";
        // Every recorded channel has its first frame ready before playing starts.
        for (int ch : plan.channels)
            EXPECT_EQ(reader.FrameStateOf(ch), kSlotReady) << "CH" << ch;
    }
}

TEST(ParseIndexOpen, StartAndEndAreClampedByTheBlocks) {
    RecordingPlan plan = SmallPlan();
    plan.durationSeconds = 3;
    const std::string path = WriteArchive(plan);
    const auto original = ReadBytes(path);
    const uint32_t first = plan.start, last = plan.start + plan.durationSeconds - 1;

    // A header wider than its blocks gives way to them; a narrower one stays.
    const struct {
        uint32_t start, end, wantStart, wantEnd;
    } cases[] = {{first - 1000, last + 1000, first, last},
                 {first + 1, last - 1, first + 1, last - 1}};
    for (const auto& c : cases) {
        auto bytes = original;
        PutHeader32(bytes, 176, c.start);
        PutHeader32(bytes, 180, c.end);
        const std::string variant = TempPath("clamped.avr");
        WriteBytes(variant, bytes);
        CQMParseIndex reader;
        ASSERT_EQ(reader.OpenFile(variant), 1);
        EXPECT_EQ(reader.m_nStartTime, c.wantStart);
        EXPECT_EQ(reader.m_nEndTime, c.wantEnd);
        EXPECT_EQ(reader.m_nFirstMiniStart, first);
        EXPECT_EQ(reader.m_nLastMiniEnd, last);
    }
}

TEST(ParseIndexOpen, CanBeReopenedAndRefusesMissingFiles) {
    RecordingPlan plan = SmallPlan();
    plan.durationSeconds = 2;
    const std::string path = WriteArchive(plan);
    CQMParseIndex reader;
    EXPECT_EQ(reader.SeekByTime(plan.start, 0), 0) << "nothing open: nothing to seek";
    EXPECT_EQ(reader.OpenFile(TempPath("missing.avr")), 0);
    ASSERT_EQ(reader.OpenFile(path), 1);
    ASSERT_EQ(reader.OpenFile(path), 1);
    EXPECT_EQ(ReadForward(reader).size(), ExpectedFrames(plan).size());
    reader.CloseFile();
    EXPECT_EQ(reader.SeekByTime(plan.start, 0), 0);
}

// ---------------------------------------------------------------------------
// Forward delivery, for every codec wrapping and both byte orders

struct DeliveryCase {
    const char* name;
    VideoCodec codec;
    uint8_t byteOrder;
    std::vector<int> channels;
};

class ParseIndexDelivery : public ::testing::TestWithParam<DeliveryCase> {};

TEST_P(ParseIndexDelivery, EveryFrameOnceInMergeOrderWithItsStream) {
    const DeliveryCase& c = GetParam();
    RecordingPlan plan = SmallPlan();
    plan.codec = c.codec;
    plan.byteOrder = c.byteOrder;
    plan.channels = c.channels;
    plan.durationSeconds = 3;
    plan.gop = 6;
    plan.audio = {{c.channels.front(), 2}, {c.channels.back(), 5}};
    plan.channelSizes = {{c.channels.back(), {160, 128}}};
    plan.sizeChanges = {};
    if (c.codec == VideoCodec::H264) plan.sizeChanges = {{2, {128, 96}}};
    const std::string path = WriteArchive(plan);
    const auto expected = ExpectedFrames(plan);
    ASSERT_GT(MapArchive(ReadBytes(path)).blocks.size(), 3u);

    CQMParseIndex reader;
    ASSERT_EQ(reader.OpenFile(path), 1);
    ReadOutcome outcome;
    const auto got = ReadForward(reader, {}, &outcome);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.stalls, 0);
    ExpectSameFrames(got, expected, ForwardCodec(plan), true);
    // The end of the recording is visible to the player.
    EXPECT_EQ(reader.m_llReadPosition.load(), reader.m_llTotalSize.load());

    // Refilling on the reading thread, alongside the preparation thread,
    // delivers the same frames in the same order.
    CQMParseIndex here;
    ASSERT_EQ(here.OpenFile(path), 1);
    ReadLimits limits;
    limits.prepareHere = true;
    ExpectSameFrames(ReadForward(here, limits, &outcome), expected, ForwardCodec(plan), true);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.stalls, 0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, ParseIndexDelivery,
                         ::testing::Values(DeliveryCase{"H264", VideoCodec::H264, 1, {0, 2, 17}},
                                           DeliveryCase{
                                               "H264_big", VideoCodec::H264, 0, {0, 2, 17}},
                                           DeliveryCase{"HISI", VideoCodec::HISI, 1, {3, 4}},
                                           DeliveryCase{"SOLO", VideoCodec::SOLO, 1, {3, 4}},
                                           DeliveryCase{"STCH", VideoCodec::STCH, 1, {0, 1}},
                                           DeliveryCase{"STHD_big", VideoCodec::STHD, 0, {5, 20}},
                                           DeliveryCase{"MJPG", VideoCodec::MJPG, 1, {0, 1}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParseIndexDeliveryRules, KeyFramesOnlyConsumesTheOthers) {
    RecordingPlan plan = SmallPlan();
    plan.gop = 4;
    const std::string path = WriteArchive(plan);
    const auto expected = ExpectedFrames(plan);
    CQMParseIndex reader;
    ASSERT_EQ(reader.OpenFile(path), 1);
    ReadLimits limits;
    limits.keyFramesOnly = true;
    const auto got = ReadForward(reader, limits);
    // Per channel, the key frames come in order and none is lost.
    std::map<int, std::vector<uint32_t>> want, have;
    for (const auto& f : expected)
        if (f.key) want[f.channel].push_back(f.sequence);
    for (const auto& d : got) {
        EXPECT_EQ(int(d.video.type), kFrameTypeKey);
        have[int(d.video.channel)].push_back(uint32_t(d.video.sequence));
    }
    EXPECT_EQ(have, want);
}

TEST(ParseIndexDeliveryRules, PicturesWiderOrTallerThan2040InBothDirections) {
    RecordingPlan plan = SmallPlan();
    plan.channels = {0, 1};
    plan.channelSizes = {{0, {2048, 64}}, {1, {64, 2048}}};
    plan.durationSeconds = 2;
    plan.fps = 4;
    plan.gop = 2;
    plan.blockSize = 131072;
    const std::string path = WriteArchive(plan);
    const auto expected = ExpectedFrames(plan);

    CQMParseIndex reader;
    ASSERT_EQ(reader.OpenFile(path), 1);
    ExpectSameFrames(ReadForward(reader), expected, kCodecH264, true);

    ASSERT_EQ(reader.SeekByTime(plan.start + 1, 1), 1);
    const auto back = ReadReverse(reader);
    ExpectSameFrames(back, KeysDownFrom(expected, plan.start + 1), kCodecH264, false);
}

// ---------------------------------------------------------------------------
// Seeking

class ParseIndexSeek : public ::testing::Test {
protected:
    void SetUp() override {
        plan = SmallPlan();
        plan.channels = {0, 1, 16};
        plan.durationSeconds = 6;
        plan.gop = 16; // key frames every other second
        plan.blockSize = 32768;
        path = WriteArchive(plan);
        expected = ExpectedFrames(plan);
        ASSERT_EQ(reader.OpenFile(path), 1);
    }
    RecordingPlan plan;
    std::string path;
    std::vector<ExpectedFrame> expected;
    CQMParseIndex reader;
};

TEST_F(ParseIndexSeek, ForwardStartsEveryChannelAtItsFirstKeyFrameAtOrAfterTheTime) {
    for (uint32_t second : {3u, 0u, 2u, 5u, 4u}) {
        const uint32_t t = plan.start + second;
        SCOPED_TRACE("seek to +" + std::to_string(second));
        ASSERT_EQ(reader.SeekByTime(t, 0), 1);
        // At +5 no key frame follows in the recording: nothing is played.
        const auto want = FromKeyAtOrAfter(expected, t);
        ExpectSameFrames(ReadForward(reader), want, kCodecH264, true);
        EXPECT_EQ(reader.m_llReadPosition.load(), reader.m_llTotalSize.load());
    }
}

TEST_F(ParseIndexSeek, ReverseGivesKeyFramesLatestFirstAcrossBlocks) {
    for (uint32_t second : {4u, 2u}) {
        const uint32_t t = plan.start + second;
        SCOPED_TRACE("seek to +" + std::to_string(second));
        ASSERT_EQ(reader.SeekByTime(t, 1), 1);
        const auto want = KeysDownFrom(expected, t);
        ASSERT_GE(want.size(), 6u) << "three channels, two key frames each at least";
        ExpectSameFrames(ReadReverse(reader), want, kCodecH264, false);
        EXPECT_EQ(reader.m_llReadPosition.load(), 0u);
    }
    // Forward again after reverse play.
    ASSERT_EQ(reader.SeekByTime(plan.start + 2, 0), 1);
    ExpectSameFrames(ReadForward(reader), FromKeyAtOrAfter(expected, plan.start + 2), kCodecH264,
                     true);
}

TEST_F(ParseIndexSeek, ASeekWhileOneRunsIsRefused) {
    reader.m_bSeeking = true;
    EXPECT_EQ(reader.SeekByTime(plan.start + 2, 0), 0);
    EXPECT_EQ(reader.SeekByTime(plan.start + 2, 1), 0);
    reader.m_bSeeking = false;

    // A seek held while it runs: the recording's path becomes a FIFO, whose
    // open() waits for a writer (the reader's threads keep the file they
    // opened). Seeks made meanwhile are refused at once, without waiting.
    // A pass of the block thread ends only after it opened the file.
    reader.m_nPassHandshake = 0;
    for (int waited = 0; reader.m_nPassHandshake.load() != -1 && waited < 30000; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(reader.m_nPassHandshake.load(), -1);
    const std::string kept = path + ".kept";
    ASSERT_EQ(std::rename(path.c_str(), kept.c_str()), 0);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    std::mutex lock;
    std::condition_variable checked;
    bool refusalsChecked = false;
    int writer = -1;
    // Gives the FIFO a writer once the refusals are checked. A second seek that
    // waits behind the first instead (a broken guard) is let go after a while,
    // so that the test fails rather than hangs.
    std::thread unblocker([&] {
        std::unique_lock guard(lock);
        checked.wait_for(guard, std::chrono::seconds(10), [&] { return refusalsChecked; });
        writer = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    });
    std::atomic<int> first{-1};
    std::thread held([&] { first = reader.SeekByTime(plan.start + 2, 0); });
    while (!reader.m_bSeeking.load() && first.load() == -1)
        std::this_thread::yield();
    EXPECT_EQ(reader.SeekByTime(plan.start + 3, 0), 0);
    EXPECT_EQ(reader.SeekByTime(plan.start + 4, 1), 0);
    EXPECT_EQ(first.load(), -1) << "the first seek ended before it could open the recording";
    {
        std::lock_guard guard(lock);
        refusalsChecked = true;
    }
    checked.notify_one();
    unblocker.join();
    held.join();
    EXPECT_EQ(first.load(), 1); // it ran, reading nothing from the FIFO
    EXPECT_GE(writer, 0);
    ::close(writer);
    ASSERT_EQ(std::remove(path.c_str()), 0);
    ASSERT_EQ(std::rename(kept.c_str(), path.c_str()), 0);

    // Seeks racing from two threads: each either runs or is refused, and a
    // refusal only ever comes while the other thread is inside a seek of its own.
    struct Seeker {
        std::atomic<int> started{0}, finished{0};
        int ran = 0, refusedAlone = 0;
    };
    Seeker seekers[2];
    auto seeker = [&](int me) {
        Seeker& self = seekers[me];
        const Seeker& other = seekers[1 - me];
        for (int i = 0; i < 20; ++i) {
            const int otherFinished = other.finished.load();
            ++self.started;
            const int result = reader.SeekByTime(plan.start + 2, 0);
            ++self.finished;
            if (result == 1)
                ++self.ran;
            else if (other.started.load() <= otherFinished) // no call of the other overlapped
                ++self.refusedAlone;
        }
    };
    std::thread a(seeker, 0), b(seeker, 1);
    a.join();
    b.join();
    EXPECT_GE(seekers[0].ran + seekers[1].ran, 1);
    EXPECT_EQ(seekers[0].refusedAlone, 0);
    EXPECT_EQ(seekers[1].refusedAlone, 0);
    ASSERT_EQ(reader.SeekByTime(plan.start + 2, 0), 1);
    ExpectSameFrames(ReadForward(reader), FromKeyAtOrAfter(expected, plan.start + 2), kCodecH264,
                     true);
}

// The pass handshake after a seek: WaitForPass wakes when a pass begun after
// BeginPassWait has ended, not before it (each group's second buffer is then
// loaded) and not only at its time-out.
TEST(ParseIndexPass, WaitForPassReturnsOnceAPassHasFollowedTheSeek) {
    RecordingPlan plan = SmallPlan();
    plan.channels = {0, 16};
    plan.durationSeconds = 6;
    const std::string path = WriteArchive(plan);
    const ArchiveMap map = MapArchive(ReadBytes(path));
    for (size_t g = 0; g < map.blocksPerGroup.size(); ++g)
        ASSERT_GE(map.blocksPerGroup[g], 4u) << "group " << g;
    CQMParseIndex reader;
    ASSERT_EQ(reader.OpenFile(path), 1);

    // While a seek runs no pass can answer.
    reader.m_bSeeking = true;
    reader.BeginPassWait();
    EXPECT_FALSE(reader.WaitForPass(100));
    reader.m_bSeeking = false;

    const struct {
        uint32_t second;
        int direction;
    } seeks[] = {{1, 0}, {3, 0}, {4, 1}, {2, 1}};
    for (const auto& s : seeks) {
        SCOPED_TRACE("seek to +" + std::to_string(s.second) + (s.direction ? " reverse" : ""));
        ASSERT_EQ(reader.SeekByTime(plan.start + s.second, s.direction), 1);
        reader.BeginPassWait();
        const auto begun = std::chrono::steady_clock::now();
        ASSERT_TRUE(reader.WaitForPass(10000));
        EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(5));
        for (int g = 0; g < reader.GroupCount(); ++g)
            EXPECT_NE(reader.BufferStateOf(g * 2 + 1), kBufferEmpty) << "group " << g;
    }
}

TEST(ParseIndexSeekGap, ATimeBetweenTwoBlocksLoadsNothing) {
    RecordingPlan plan = SmallPlan();
    plan.durationSeconds = 6;
    plan.gaps = {{2, 4}};
    plan.blockSize = 32768;
    const std::string path = WriteArchive(plan);
    const auto expected = ExpectedFrames(plan);
    CQMParseIndex reader;
    ASSERT_EQ(reader.OpenFile(path), 1);

    for (int direction : {0, 1}) {
        ASSERT_EQ(reader.SeekByTime(plan.start + 3, direction), 1);
        for (int b = 0; b < kBlockBuffers; ++b)
            EXPECT_LE(reader.BufferStateOf(b), kBufferEmpty) << "buffer " << b;
        // Give the threads time to do something they should not.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        reader.WaitForPreparedSlots(500);
        for (int ch : plan.channels)
            EXPECT_NE(reader.FrameStateOf(ch), kSlotReady);
        std::vector<uint8_t> buf(kVideoPayloadCapacity);
        FrameRecord video{};
        video.payload = buf.data();
        EXPECT_EQ(reader.GetNextFrame(&video, 0, nullptr, 0, nullptr, 0), 0);
        EXPECT_EQ(reader.GetPrevFrame(&video), 0);
    }
    // The next seek into recorded time plays again.
    ASSERT_EQ(reader.SeekByTime(plan.start + 4, 0), 1);
    ExpectSameFrames(ReadForward(reader), FromKeyAtOrAfter(expected, plan.start + 4), kCodecH264,
                     true);
}

// ---------------------------------------------------------------------------
// qmtool on the same recordings

TEST(QmtoolOnArchives, InfoAndFramesListWhatWasWritten) {
    RecordingPlan plan = SmallPlan();
    plan.channels = {0, 17};
    plan.byteOrder = 0;
    plan.codec = VideoCodec::STCH;
    plan.durationSeconds = 3;
    plan.timeOffset = 3;
    plan.audio = {{17, 5}};
    const std::string path = WriteArchive(plan);
    const ArchiveMap map = MapArchive(ReadBytes(path));

    // The player's clock: this computer's zone (two hours east here) plus the
    // recording's offset of 5400 s, as text beside the stored values.
    const auto clock = [&](uint32_t seconds, int ms, bool withMs) {
        const time_t shown = time_t(seconds) + 5400 + 7200;
        std::tm tm{};
        gmtime_r(&shown, &tm);
        char text[40];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
        return withMs ? std::string(text) + "." + std::to_string(1000 + ms).substr(1) : text;
    };
    const ToolResult info = RunQmtool("info --json '" + path + "'", "UTC-2");
    ASSERT_EQ(info.status, 0);
    char want[768];
    std::snprintf(want, sizeof want,
                  "{\"kind\":\"archive\",\"codec\":\"STCH\",\"byte_order\":0,\"channel_mask\":%u,"
                  "\"channels\":[1,18],\"groups\":2,\"start\":%u,\"end\":%u,\"time_offset\":5400,"
                  "\"block_size\":8192,\"blocks\":[%zu,%zu],\"start_clock\":\"%s\","
                  "\"end_clock\":\"%s\",\"clock\":\"player\",\"version\":\"%s\"}\n",
                  plan.channelMask(), plan.start, plan.start + 2, map.blocksPerGroup[0],
                  map.blocksPerGroup[1], clock(plan.start, 0, false).c_str(),
                  clock(plan.start + 2, 0, false).c_str(), QM_VERSION_TEXT);
    EXPECT_EQ(info.out, want);

    const ToolResult frames = RunQmtool("frames --json '" + path + "'", "UTC-2");
    ASSERT_EQ(frames.status, 0);
    std::string lines;
    for (const ExpectedFrame& f : ExpectedFrames(plan)) {
        char line[512];
        std::snprintf(line, sizeof line,
                      "{\"channel\":%d,\"type\":\"%s\",\"time\":%u,\"ms\":%u,\"seq\":%u,"
                      "\"index\":%u,\"width\":%d,\"height\":%d,\"video_bytes\":%zu,"
                      "\"audio_type\":%u,\"audio_bytes\":%zu,\"clock\":\"%s\",\"tz\":24}\n",
                      f.channel + 1, f.key ? "I" : "P", f.time, unsigned(f.ms), f.sequence,
                      unsigned(f.index), f.width, f.height, f.stream.size(), unsigned(f.audioType),
                      f.audioBytes, clock(f.time, f.ms, true).c_str());
        lines += line;
    }
    EXPECT_EQ(frames.out, lines);

    const ToolResult one = RunQmtool("frames --json --channel 18 '" + path + "'");
    ASSERT_EQ(one.status, 0);
    EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), plan.durationSeconds * plan.fps);
    EXPECT_EQ(one.out.find("\"channel\":1,"), std::string::npos);
}
