#pragma once
// The ffmpeg command as an independent reference decoder for the audio tests.

#include <cstdint>
#include <string>
#include <vector>

namespace qm::test {

// Writes `input` to a temporary file, decodes it with
// `ffmpeg <inputOptions> -i FILE -f s16le OUT` (mono, 8000 Hz) and returns the
// samples. Fails the calling test (and returns nothing) when ffmpeg does.
std::vector<int16_t> FfmpegDecode(const std::vector<uint8_t>& input,
                                  const std::string& inputOptions);

// A WAV file of IMA ADPCM blocks (format 0x11, mono, 8000 Hz).
std::vector<uint8_t> ImaAdpcmWav(const std::vector<uint8_t>& blocks, int blockAlign,
                                 int samplesPerBlock);

} // namespace qm::test
