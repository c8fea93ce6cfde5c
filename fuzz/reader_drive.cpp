#include "fuzz/reader_drive.h"

#include <vector>

namespace qm::fuzz {
namespace {

constexpr int64_t kStallMs = 200;

bool AnySlotReady(const CQMParseIndex& reader) {
    for (int c = 0; c < kMaxChannels; ++c)
        if (reader.FrameStateOf(c) == kSlotReady) return true;
    return false;
}

struct Records {
    std::vector<uint8_t> videoBuf = std::vector<uint8_t>(kVideoPayloadCapacity);
    std::vector<uint8_t> audioBuf = std::vector<uint8_t>(kAudioPayloadCapacity);
    std::vector<uint8_t> extraBuf = std::vector<uint8_t>(kExtraPayloadCapacity);
    FrameRecord video{}, audio{}, extra{};
    Records() {
        video.payload = videoBuf.data();
        audio.payload = audioBuf.data();
        extra.payload = extraBuf.data();
    }
    // A delivered record must describe bytes inside its buffer.
    void Check() const {
        if (video.size > kVideoPayloadCapacity || audio.size > kAudioPayloadCapacity ||
            extra.size > kExtraPayloadCapacity)
            __builtin_trap();
        if (video.channel >= uint32_t(kMaxChannels)) __builtin_trap();
    }
};

template <typename Take> size_t Drain(CQMParseIndex& reader, size_t maxFrames, Take take) {
    Records r;
    size_t taken = 0;
    for (size_t calls = 0; calls < maxFrames * 2 && taken < maxFrames; ++calls) {
        if (!reader.WaitForPreparedSlots(kStallMs)) break;
        if (!AnySlotReady(reader)) break;
        const int got = take(r);
        reader.SignalPrepare();
        if (got != 1) continue;
        r.Check();
        ++taken;
        r.audio.size = 0;
        r.extra.size = 0;
    }
    return taken;
}

} // namespace

size_t DrainForward(CQMParseIndex& reader, size_t maxFrames, bool keyFramesOnly) {
    return Drain(reader, maxFrames, [&](Records& r) {
        return reader.GetNextFrame(&r.video, keyFramesOnly ? 1 : 0, &r.audio, 1, &r.extra, 1);
    });
}

size_t DrainReverse(CQMParseIndex& reader, size_t maxFrames) {
    return Drain(reader, maxFrames, [&](Records& r) { return reader.GetPrevFrame(&r.video); });
}

} // namespace qm::fuzz
