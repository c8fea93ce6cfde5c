// The manifest beside an export and `qmtool verify`: the hashes it records
// are those of the bytes really written and read (computed here on our own),
// verify accepts an untouched export and names what changed in a touched
// one, and the canonical H.264 framing agrees across containers.

#include "export/manifest.h"
#include "export/save_avi_job.h"

#include "avi_file.h"
#include "export_test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <filesystem>
#include <fstream>

namespace qm {
namespace {

using test::Qmtool;

std::string Sha256Of(const std::vector<uint8_t>& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

void FlipByte(const std::string& path, uint64_t at) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(std::streamoff(at));
    const char c = char(f.get() ^ 0x40);
    f.seekp(std::streamoff(at));
    f.put(c);
}

nlohmann::json ReadJson(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

TEST(ExportManifest, RecordsWhatWasWrittenAndVerifyFindsEveryChange) {
    auto plan = test::SmallPlan();
    plan.sizeChanges = {{2, {352, 240}}};
    plan.audio = {{0, 5}};
    // A copy of its own, so that the source can be damaged later.
    const std::string source = test::TempPath("manifest-source.avr");
    std::filesystem::copy_file(test::WriteArchive(plan), source,
                               std::filesystem::copy_options::overwrite_existing);
    const std::string out = test::TempPath("m.avi");
    const std::string second = test::TempPath("m-002.avi");
    const std::string wav = test::TempPath("m.wav");
    const std::string manifest = out + ".manifest.json";

    const auto o = Qmtool("export --channel 1 --audio-wav " + wav + " --out " + out + " " + source);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, out + "\n" + second + "\n" + wav + "\n" + manifest + "\n");

    const auto j = ReadJson(manifest);
    EXPECT_EQ(j["tool"], "qmtool");
    EXPECT_EQ(j["command_line"].back(), source);
    EXPECT_EQ(j["created"].get<std::string>().back(), 'Z');
    EXPECT_EQ(j["source"]["kind"], "archive");
    EXPECT_EQ(j["source"]["hash"], "whole");
    const auto sourceBytes = test::ReadFile(source);
    EXPECT_EQ(j["source"]["sha256"], Sha256Of(sourceBytes));
    EXPECT_EQ(j["source"]["size"], sourceBytes.size());

    ASSERT_EQ(j["outputs"].size(), 3u);
    const std::string names[] = {"m.avi", "m-002.avi", "m.wav"};
    const std::string paths[] = {out, second, wav};
    for (int i = 0; i < 3; ++i) {
        const auto& output = j["outputs"][i];
        EXPECT_EQ(output["path"], names[i]);
        const auto bytes = test::ReadFile(paths[i]);
        EXPECT_EQ(output["sha256"], Sha256Of(bytes)) << names[i];
        EXPECT_EQ(output["size"], bytes.size()) << names[i];
    }
    // Each picture's hash is that of the chunk the AVI holds, in order.
    for (int i = 0; i < 2; ++i) {
        const auto& output = j["outputs"][i];
        EXPECT_EQ(output["camera"], 1);
        EXPECT_EQ(output["frames"], 16);
        EXPECT_EQ(output["first"]["clock"], output["pictures"][0]["time"]);
        const auto avi = test::ReadAviChecked(paths[i]);
        const auto chunks = avi.Chunks("00dc");
        ASSERT_EQ(chunks.size(), output["pictures"].size());
        for (size_t k = 0; k < chunks.size(); ++k) {
            // The chunk's size counts the byte padding it to an even length.
            const auto& picture = output["pictures"][k];
            const uint32_t size = picture["size"];
            EXPECT_EQ((size + 1) & ~1u, chunks[k]->size) << k;
            auto bytes = avi.Data(*chunks[k]);
            bytes.resize(size);
            EXPECT_EQ(picture["sha256"], Sha256Of(bytes)) << k;
        }
        EXPECT_TRUE(output["pictures"][0]["key"].get<bool>());
    }
    EXPECT_TRUE(j["outputs"][2]["camera"].is_null());

    const auto verified = Qmtool("verify " + manifest);
    EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
    EXPECT_EQ(verified.out,
              "ok " + out + "\nok " + second + "\nok " + wav + "\nok " + source + "\n");

    // One byte inside the fifth picture of the second file.
    const auto avi = test::ReadAviChecked(second);
    const auto* chunk = avi.Chunks("00dc")[4];
    const auto picture = j["outputs"][1]["pictures"][4];
    FlipByte(second, chunk->data + chunk->size / 2);
    auto touched = Qmtool("verify " + manifest);
    EXPECT_EQ(touched.status, 1);
    EXPECT_NE(touched.out.find("ok " + out + "\n"), std::string::npos) << touched.out;
    EXPECT_NE(touched.out.find("FAILED " + second + ": SHA-256 differs; picture 5 at " +
                               picture["time"].get<std::string>() + " differs\n"),
              std::string::npos)
        << touched.out;
    FlipByte(second, chunk->data + chunk->size / 2);
    ASSERT_EQ(Qmtool("verify " + manifest).status, 0);

    // One byte of the source inside a picture that was exported: the source's
    // hash and the picture read again both tell.
    const auto& firstPicture = j["outputs"][0]["pictures"][3];
    const auto firstAvi = test::ReadAviChecked(out);
    const auto want = firstAvi.Data(*firstAvi.Chunks("00dc")[3]);
    const auto at = std::search(sourceBytes.begin(), sourceBytes.end(), want.begin(), want.end());
    ASSERT_NE(at, sourceBytes.end());
    FlipByte(source, uint64_t(at - sourceBytes.begin()) + want.size() / 2);
    touched = Qmtool("verify " + manifest);
    EXPECT_EQ(touched.status, 1);
    EXPECT_NE(touched.out.find("FAILED " + out + ": picture 4 at " +
                               firstPicture["time"].get<std::string>() +
                               " differs from the source"),
              std::string::npos)
        << touched.out;
    EXPECT_NE(touched.out.find("FAILED " + source + ": SHA-256 differs\n"), std::string::npos)
        << touched.out;
}

TEST(ExportManifest, ASourceTooLargeToHashIsVouchedForByThePiecesRead) {
    auto plan = test::SmallPlan();
    plan.blockSize = 16 * 1024;
    const std::string image = test::WriteDiskImage(plan, {}, nullptr, "manifest-disk.img");
    const std::string out = test::TempPath("disk-m.avi");
    const std::string manifest = out + ".manifest.json";

    // Any size counts as too large here.
    ManifestBuilder builder(ClockView{0, true});
    builder.SetTool("qmtool", "test", "export", {"qmtool", "export"});
    builder.SetSource(image, "disk");
    std::string error;
    ASSERT_TRUE(builder.ChooseSourceHash(false, error, 0)) << error;
    ASSERT_TRUE(builder.WantsSourceReads());
    OutputFiles outputs(true);
    SaveAviRequest request;
    request.sourceKind = kExportSourceDisk;
    request.sourcePath = image;
    request.outputPath = out;
    request.outputs = &outputs;
    request.hooks.onPicture = [&](int channel, const ExportFrame& f) {
        builder.AddPicture(channel, f);
    };
    request.hooks.onOutputDone = [&](const ExportOutputDone& done) {
        builder.FinishOutput(done.path, done.channel, "avi", done.damagedSkipped);
    };
    request.sourceRead = [&](uint64_t offset, ByteView b) { builder.AddSourceRead(offset, b); };
    TSaveAviJob job(request);
    ASSERT_TRUE(job.Run()) << job.Error();
    ASSERT_TRUE(
        builder.HashOutputs([&](const std::string& p) { return outputs.WrittenPath(p); }, error) &&
        builder.HashSource(error) && builder.Write(outputs, manifest, error) &&
        outputs.Commit(error))
        << error;

    const auto j = ReadJson(manifest);
    ASSERT_EQ(j["source"]["hash"], "pieces_read");
    EXPECT_FALSE(j["source"].contains("sha256"));
    const auto bytes = test::ReadFile(image);
    const nlohmann::json* largest = nullptr;
    for (const auto& piece : j["source"]["pieces"]) {
        const uint64_t offset = piece["offset"], length = piece["length"];
        ASSERT_LE(offset + length, bytes.size());
        EXPECT_EQ(piece["sha256"],
                  Sha256Of({bytes.begin() + long(offset), bytes.begin() + long(offset + length)}));
        if (!largest || length > (*largest)["length"].get<uint64_t>()) largest = &piece;
    }
    ASSERT_NE(largest, nullptr);
    EXPECT_EQ(j["outputs"][0]["frames"], 32);
    EXPECT_EQ(Qmtool("verify " + manifest).status, 0);

    const uint64_t offset = (*largest)["offset"], length = (*largest)["length"];
    FlipByte(image, offset + length / 2);
    const auto touched = Qmtool("verify " + manifest);
    EXPECT_EQ(touched.status, 1);
    EXPECT_NE(touched.out.find("FAILED " + image + ": the " + std::to_string(length) +
                               " bytes read at byte " + std::to_string(offset) + " differ"),
              std::string::npos)
        << touched.out;
}

TEST(ExportManifest, BadManifestsAndCommandLinesGiveOneLine) {
    const std::string broken = test::TempPath("broken.manifest.json");
    std::ofstream(broken) << "{\"outputs\": [";
    const std::string wrongType = test::TempPath("wrong.manifest.json");
    std::ofstream(wrongType)
        << R"({"source":{"path":"x","hash":"whole","size":1,"sha256":"zz"},"outputs":[]})";
    const std::pair<std::string, int> cases[] = {
        {"verify", 2},
        {"verify a b", 2},
        {"verify --fast " + broken, 2},
        {"verify " + test::TempPath("none.json"), 1},
        {"verify " + broken, 1},
        {"verify " + wrongType, 1},
        {"export --channel 1 --no-manifest --hash-source --out x.avi y.avr", 2},
    };
    for (const auto& [args, status] : cases) {
        const auto o = Qmtool(args);
        EXPECT_EQ(o.status, status) << args;
        EXPECT_TRUE(o.out.empty()) << args;
        EXPECT_EQ(o.err.rfind("qmtool: ", 0), 0u) << args << ": " << o.err;
    }
    EXPECT_NE(Qmtool("verify " + broken).err.find("is not an export manifest"), std::string::npos);
}

TEST(ExportManifest, CanonicalFramingIsTheSameForEveryContainer) {
    const std::vector<uint8_t> sps = {0x67, 0x42, 0x00, 0x1e};
    const std::vector<uint8_t> pps = {0x68, 0xce, 0x38, 0x80};
    const std::vector<uint8_t> slice = {0x65, 0x88, 0x00, 0x00, 0x03, 0x01, 0x7f};
    std::vector<uint8_t> want;
    for (const auto* unit : {&sps, &pps, &slice}) {
        want.insert(want.end(), {0, 0, 0, 1});
        want.insert(want.end(), unit->begin(), unit->end());
    }
    // Annex-B with a 4-byte, a 3-byte and a 4-byte code, padding before the
    // last code and after the slice.
    std::vector<uint8_t> annexB = {0, 0, 0, 1};
    annexB.insert(annexB.end(), sps.begin(), sps.end());
    annexB.insert(annexB.end(), {0, 0, 1});
    annexB.insert(annexB.end(), pps.begin(), pps.end());
    annexB.insert(annexB.end(), {0, 0, 0, 0, 1});
    annexB.insert(annexB.end(), slice.begin(), slice.end());
    annexB.insert(annexB.end(), {0, 0});
    // AVCC with 4-byte and with 2-byte lengths.
    auto avcc = [&](int lengthSize) {
        std::vector<uint8_t> v;
        for (const auto* unit : {&sps, &pps, &slice}) {
            for (int i = lengthSize - 1; i >= 0; --i)
                v.push_back(uint8_t(unit->size() >> (8 * i)));
            v.insert(v.end(), unit->begin(), unit->end());
        }
        return v;
    };
    const auto a4 = avcc(4), a2 = avcc(2);
    EXPECT_EQ(CanonicalNals(ByteView(annexB.data(), annexB.size()), NalFraming::kAnnexB), want);
    EXPECT_EQ(CanonicalNals(ByteView(a4.data(), a4.size()), NalFraming::kLengthPrefixed, 4), want);
    EXPECT_EQ(CanonicalNals(ByteView(a2.data(), a2.size()), NalFraming::kLengthPrefixed, 2), want);
    EXPECT_EQ(CanonicalNalSha256(ByteView(a2.data(), a2.size()), NalFraming::kLengthPrefixed, 2),
              Sha256Of(want));
    // A length running past the end is refused, not read beyond.
    EXPECT_FALSE(CanonicalNals(ByteView(a4.data(), a4.size() - 1), NalFraming::kLengthPrefixed, 4));
    // The canonical form is taken as it is (its hash is not computed twice);
    // a 3-byte code, padding or a trailing zero each make bytes non-canonical.
    EXPECT_TRUE(IsCanonicalAnnexB(ByteView(want.data(), want.size())));
    EXPECT_FALSE(IsCanonicalAnnexB(ByteView(annexB.data(), annexB.size())));
    std::vector<uint8_t> padded = want;
    padded.push_back(0);
    EXPECT_FALSE(IsCanonicalAnnexB(ByteView(padded.data(), padded.size())));
    EXPECT_FALSE(IsCanonicalAnnexB(ByteView(want.data() + 1, want.size() - 1)));
    EXPECT_FALSE(IsCanonicalAnnexB(ByteView()));
}

} // namespace
} // namespace qm
