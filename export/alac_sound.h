#pragma once
// MP4's sound: the decoded 16-bit PCM encoded losslessly as ALAC. MP4 has no
// place for PCM or G.711 that players accept (ffmpeg's MP4 writer refuses
// them); ALAC keeps every sample and ffmpeg, VLC and mpv play it.
//
// ALAC frames hold a fixed number of samples and players play an MP4 sound
// track as one continuous stream, so the track runs without a break from
// the file's first picture: each picture's samples are placed at its time,
// a stretch without sound (a gap in the recording) is filled with silence,
// and samples that would begin well before the sound already placed ends
// (a recorder clock that went back) are trimmed. The sound thus never drifts
// from the pictures by more than kSlackMs.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVCodecParameters;
struct AVFrame;
struct AVPacket;

namespace qm {

class TAlacSound {
public:
    static constexpr int64_t kSlackMs = 100;
    // Takes each encoded packet, its times in 1/rate seconds; false stops.
    using Sink = std::function<bool(AVPacket* packet)>;

    TAlacSound() = default;
    ~TAlacSound();
    TAlacSound(const TAlacSound&) = delete;
    TAlacSound& operator=(const TAlacSound&) = delete;

    // Sets up the encoder for `rate` Hz mono and describes its stream in
    // `stream`. False with Error().
    bool Open(int rate, AVCodecParameters* stream);
    // The samples of a picture `ms` after the file's first picture.
    bool Add(int64_t ms, const int16_t* samples, size_t count, const Sink& sink);
    // Encodes what is left; call once, after the last Add.
    bool Finish(const Sink& sink);

    int Rate() const { return m_nRate; }
    const std::string& Error() const { return m_strError; }

private:
    bool EncodeFrames(bool all, const Sink& sink);
    bool Drain(const Sink& sink);
    bool Fail(const std::string& error);

    AVCodecContext* m_pCodec = nullptr;
    AVFrame* m_pFrame = nullptr;
    AVPacket* m_pPacket = nullptr;
    int m_nRate = 0;
    int m_nFrameSamples = 0;
    int64_t m_llPlaced = 0;  // samples placed on the track so far
    int64_t m_llEncoded = 0; // of which handed to the encoder
    std::vector<int16_t> m_pending;
    std::string m_strError;
};

} // namespace qm
