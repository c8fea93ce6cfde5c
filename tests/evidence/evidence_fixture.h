#pragma once
// The recordings the evidence tests damage, made once by mkrec, and the
// commands run over each damaged copy.

#include "evidence_run.h"
#include "evidence_variants.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm::evidence {

constexpr int kToolSeconds = 120;

class EvidenceFixture : public testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

    // H.264, little-endian, two cameras with ADPCM sound on one.
    static const std::vector<uint8_t>& LittleEndianArchive() { return s_little; }
    // Motion JPEG, big-endian, two groups (cameras 1 and 17), G.711 sound,
    // a change of picture size.
    static const std::vector<uint8_t>& BigEndianArchive() { return s_big; }
    static const std::vector<uint8_t>& DiskImage() { return s_disk; }

    static const std::string& Dir() { return s_dir; }
    // Writes the variant as the source file of the next runs; returns its path.
    std::string WriteVariant(const Variant& v);
    // qmtool info, frames, decode and export over the source.
    std::vector<std::string> ToolCommands(const std::string& source) const;
    void RemoveOutputs();
    // Lines of `qmtool frames`; fails the test if qmtool does not end normally.
    size_t CountFrames(const std::string& source);

private:
    static std::string s_dir;
    static std::vector<uint8_t> s_little, s_big, s_disk;
};

} // namespace qm::evidence
