#include "avi_file.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace qm::test {

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
    return f;
}

AviFile ReadAviChecked(const std::string& path) {
    std::string error;
    auto avi = ReadAvi(path, error);
    EXPECT_TRUE(avi) << error;
    return avi ? *avi : AviFile{};
}

} // namespace qm::test
