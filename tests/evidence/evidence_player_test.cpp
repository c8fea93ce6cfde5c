// The player over damaged recordings: opened in-process and driven through
// its transport commands, and the program itself started offscreen. It must
// neither crash nor leave the source changed; a refused open is a clean 0.

#include "evidence_fixture.h"
#include "player/player_ex.h"

#include <QCoreApplication>

#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

namespace qm::evidence {
namespace {

class EvidencePlayer : public EvidenceFixture {
protected:
    static void Pump(int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // Every `step`-th variant, so that each kind of damage is played.
    void PlayEach(const std::vector<Variant>& variants, size_t step, bool disk) {
        ASSERT_FALSE(variants.empty());
        for (size_t i = 0; i < variants.size(); i += step) {
            const Variant& v = variants[i];
            SCOPED_TRACE(v.name);
            const std::string path = WriteVariant(v);
            const uint64_t before = HashOf(v.bytes);
            {
                CQMPlayerEx player;
                player.resize(256, 192);
                player.SetChannelMask(0x00010003);
                player.UpdateLayout();
                const bool opened = disk ? player.OpenDiskPath(path) : player.OpenArchive(path);
                if (opened) {
                    player.PlayOrPause();
                    Pump(300);
                    player.Faster();
                    Pump(150);
                    player.ReverseOrPause();
                    Pump(150);
                    player.StepForward();
                    player.StepReverse();
                    Pump(50);
                    player.Close();
                }
                player.Shutdown();
            }
            EXPECT_EQ(HashOf(ReadFile(path)), before) << "the source changed";
        }
    }
};

TEST_F(EvidencePlayer, PlaysDamagedArchivesInProcess) {
    PlayEach(ArchiveTruncations(LittleEndianArchive()), 4, false);
    PlayEach(ArchiveFlips(BigEndianArchive(), 5), 3, false);
    PlayEach(ArchiveWrongMagic(LittleEndianArchive()), 1, false);
    PlayEach(ArchiveSizesAndCounts(BigEndianArchive()), 2, false);
}

TEST_F(EvidencePlayer, PlaysDamagedDiskImagesInProcess) {
    PlayEach(DiskImageVariants(DiskImage(), 6), 3, true);
}

// The program, offscreen, in a runtime directory of its own (its single
// instance channel lives there). A damaged archive makes it show a message
// box and wait, so it is stopped after a while; until then it must not
// have crashed or reported anything from the sanitizers.
TEST_F(EvidencePlayer, ProgramOpensDamagedArchivesOffscreen) {
    const std::string player = Program("QMPLAYER", QM_QMPLAYER_PATH);
    std::vector<Variant> variants = ArchiveWrongMagic(LittleEndianArchive());
    const auto cuts = ArchiveTruncations(BigEndianArchive());
    variants.push_back(cuts[cuts.size() / 2]);
    const auto sizes = ArchiveSizesAndCounts(LittleEndianArchive());
    variants.push_back(sizes.front());
    variants.push_back(sizes.back());
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.name);
        const std::string path = WriteVariant(v);
        const uint64_t before = HashOf(v.bytes);
        const std::string runtime = Dir() + "/runtime";
        std::filesystem::create_directories(runtime);
        ::chmod(runtime.c_str(), 0700);
        const RunResult r = RunWithTimeout("env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR='" +
                                               runtime + "' '" + player + "' -path '" + path + "'",
                                           4, Dir() + "/player.stderr");
        EXPECT_FALSE(HasSanitizerReport(r.err)) << r.err.substr(0, 4000);
        // Still running when stopped (124), or ended normally.
        EXPECT_TRUE(r.timedOut || (r.status >= 0 && r.status < 128))
            << "status " << r.status << "\n"
            << r.err.substr(0, 2000);
        EXPECT_EQ(HashOf(ReadFile(path)), before) << "the source changed";
    }
}

} // namespace
} // namespace qm::evidence
