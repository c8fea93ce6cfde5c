#include "ffmpeg_reference.h"

#include "platform/byte_order.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qm::test {

namespace {

std::filesystem::path TempPath(const std::string& suffix) {
    static std::atomic<int> counter{0};
    return std::filesystem::temp_directory_path() /
           ("qm_audio_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + suffix);
}

void Append16(std::vector<uint8_t>& out, uint16_t v) {
    const size_t at = out.size();
    out.resize(at + 2);
    storeLE16(&out[at], v);
}

void Append32(std::vector<uint8_t>& out, uint32_t v) {
    const size_t at = out.size();
    out.resize(at + 4);
    storeLE32(&out[at], v);
}

} // namespace

std::vector<int16_t> FfmpegDecode(const std::vector<uint8_t>& input,
                                  const std::string& inputOptions) {
    const auto in = TempPath(".in");
    const auto out = TempPath(".s16");
    {
        std::ofstream file(in, std::ios::binary);
        file.write(reinterpret_cast<const char*>(input.data()), std::streamsize(input.size()));
    }
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + inputOptions +
                                " -i '" + in.string() + "' -ac 1 -ar 8000 -f s16le '" +
                                out.string() + "'";
    const int status = std::system(command.c_str());
    std::vector<int16_t> samples;
    std::ifstream result(out, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(result)),
                               std::istreambuf_iterator<char>());
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    EXPECT_EQ(status, 0) << command;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        samples.push_back(int16_t(loadLE16(&bytes[i])));
    return samples;
}

std::vector<uint8_t> ImaAdpcmWav(const std::vector<uint8_t>& blocks, int blockAlign,
                                 int samplesPerBlock) {
    std::vector<uint8_t> fmt;
    Append16(fmt, 0x11); // IMA ADPCM
    Append16(fmt, 1);
    Append32(fmt, 8000);
    Append32(fmt, uint32_t(8000 * blockAlign / samplesPerBlock));
    Append16(fmt, uint16_t(blockAlign));
    Append16(fmt, 4);
    Append16(fmt, 2); // extra bytes: samples per block
    Append16(fmt, uint16_t(samplesPerBlock));

    std::vector<uint8_t> wav = {'R', 'I', 'F', 'F'};
    Append32(wav, uint32_t(4 + 8 + fmt.size() + 8 + blocks.size()));
    wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Append32(wav, uint32_t(fmt.size()));
    wav.insert(wav.end(), fmt.begin(), fmt.end());
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    Append32(wav, uint32_t(blocks.size()));
    wav.insert(wav.end(), blocks.begin(), blocks.end());
    return wav;
}

} // namespace qm::test
