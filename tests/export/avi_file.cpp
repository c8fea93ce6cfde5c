#include "avi_file.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace qm::test {
namespace {

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

} // namespace

std::vector<const AviChunk*> AviFile::Chunks(const std::string& id) const {
    std::vector<const AviChunk*> out;
    for (const AviChunk& c : chunks)
        if (c.id == id) out.push_back(&c);
    return out;
}

std::optional<AviFile> ReadAvi(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    AviFile f;
    f.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    auto fail = [&](const std::string& what) {
        error = path + ": " + what;
        return std::nullopt;
    };
    if (f.bytes.size() < 334) return fail("too short");
    // The fixed header: RIFF, hdrl with the two stream lists, then movi.
    const std::pair<size_t, const char*> tags[] = {
        {0, "RIFF"},   {8, "AVI "},   {12, "LIST"},  {20, "hdrl"},  {24, "avih"},  {88, "LIST"},
        {96, "strl"},  {100, "strh"}, {108, "vids"}, {164, "strf"}, {212, "LIST"}, {220, "strl"},
        {224, "strh"}, {232, "auds"}, {288, "strf"}, {314, "LIST"}, {322, "movi"}};
    for (const auto& [at, tag] : tags)
        if (f.Tag(at) != tag) return fail(std::string("no ") + tag + " at " + std::to_string(at));
    if (f.U32(kRiffSize) != f.bytes.size() - 8) return fail("RIFF size is not the file's");
    if (f.U32(16) != 294 || f.U32(92) != 116 || f.U32(216) != 94) return fail("header list sizes");

    const size_t moviEnd = 322 + size_t(f.U32(kMoviSize));
    if (moviEnd + 8 > f.bytes.size()) return fail("movi list runs past the end");
    for (size_t at = 326; at < moviEnd;) {
        if (at + 8 > moviEnd) return fail("chunk header cut at " + std::to_string(at));
        AviChunk c{f.Tag(at), f.U32(at + 4), at + 8, uint32_t(at - 322)};
        if (c.data + c.size > moviEnd) return fail("chunk at " + std::to_string(at) + " too long");
        f.chunks.push_back(c);
        at = c.data + c.size + (c.size & 1);
    }
    if (f.Tag(moviEnd) != "idx1" || moviEnd + 8 + f.U32(moviEnd + 4) != f.bytes.size() ||
        f.U32(moviEnd + 4) % 16 != 0)
        return fail("idx1 does not fill the rest of the file");
    for (size_t at = moviEnd + 8; at < f.bytes.size(); at += 16)
        f.index.push_back({f.Tag(at), f.U32(at + 4), f.U32(at + 8), f.U32(at + 12)});

    // AVIF_HASINDEX | AVIF_TRUSTCKTYPE, and the two stream lists.
    if (f.U32(kMainFlags) != 0x810) return fail("main header flags " + Hex(f.U32(kMainFlags)));
    if (f.U32(kStreams) != 2) return fail("streams: " + std::to_string(f.U32(kStreams)));
    // Sound: one 2-byte sample per unit, 8000 samples per second, PCM mono 16-bit.
    const std::pair<size_t, uint32_t> sound[] = {
        {kAudioScale, 2},      {kAudioRate, 16000}, {kAudioSampleSize, 2},
        {kWaveFormatSize, 18}, {kWaveRate, 8000},   {kWaveBytesPerSecond, 16000}};
    for (const auto& [at, want] : sound)
        if (f.U32(at) != want)
            return fail("sound header field at " + std::to_string(at) + " is " +
                        std::to_string(f.U32(at)) + ", not " + std::to_string(want));
    const std::pair<size_t, uint16_t> wave[] = {{kWaveFormat, 1},
                                                {kWaveChannels, 1},
                                                {kWaveBlockAlign, 2},
                                                {kWaveBits, 16},
                                                {kWaveExtra, 0}};
    for (const auto& [at, want] : wave)
        if (f.U16(at) != want)
            return fail("sound format field at " + std::to_string(at) + " is " +
                        std::to_string(f.U16(at)) + ", not " + std::to_string(want));

    // The counts in the header are those of the file: pictures (with the empty
    // entries that keep a gap's duration) and sound samples.
    const auto pictures = size_t(std::count_if(f.index.begin(), f.index.end(), [](const auto& e) {
        return e.id == "00dc" || e.id == "00db";
    }));
    if (f.U32(kTotalFrames) != pictures || f.U32(kVideoLength) != pictures)
        return fail("frame counts " + std::to_string(f.U32(kTotalFrames)) + " and " +
                    std::to_string(f.U32(kVideoLength)) + ", index has " +
                    std::to_string(pictures));
    uint64_t soundBytes = 0;
    for (const AviChunk& c : f.chunks)
        if (c.id == "01wb") soundBytes += c.size;
    if (f.U32(kAudioLength) != soundBytes / 2)
        return fail("sound length " + std::to_string(f.U32(kAudioLength)) + ", chunks hold " +
                    std::to_string(soundBytes / 2) + " samples");
    return f;
}

AviFile ReadAviChecked(const std::string& path) {
    std::string error;
    auto avi = ReadAvi(path, error);
    EXPECT_TRUE(avi) << error;
    return avi ? *avi : AviFile{};
}

} // namespace qm::test
