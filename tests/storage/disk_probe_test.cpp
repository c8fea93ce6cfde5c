// Finding DVR drives: the probe of one device, the drive list with its menu
// labels, and telling archives, disk images and devices apart.

#include "disk_test_support.h"
#include "reader_test_support.h"

#include "storage/disk_probe.h"
#include "storage/source_kind.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace qm;
using namespace qm::test;
namespace fs = std::filesystem;

namespace {

// A sparse file of `size` bytes with `word` at `at` (4 bytes as given).
void SparseFile(const std::string& path, uint64_t size, uint64_t at, const char* word) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.seekp(std::streamoff(at));
        out.write(word, 4);
    }
    fs::resize_file(path, size);
}

std::vector<uint8_t> Sectors(uint64_t size, uint64_t at, const char* word) {
    std::vector<uint8_t> bytes(size, 0);
    std::copy(word, word + 4, bytes.begin() + long(at));
    return bytes;
}

const char kLittle[] = "dVmQ"; // QmVd as a disk stores it
const char kBig[] = "QmVd";

} // namespace

TEST(DiskProbe, MenuLabelsComeFromTheProbeResults) {
    std::vector<int> probed;
    const auto drives = FindDvrDrives([&](int n) {
        probed.push_back(n);
        DriveProbe p;
        p.result = kProbeDvrDrive;
        switch (n) {
        case 1:
            p.kind = kDriveKindCard, p.sectors = 15523840;
            break;
        case 3:
            p.kind = kDriveKindDisk, p.sectors = 3907024065;
            break;
        case 4:
            p.result = kProbeNoMarker, p.kind = kDriveKindDisk;
            break;
        case 6:
            p.kind = kDriveKindDisk, p.sectors = uint64_t(1) << 33;
            break; // 4 TiB
        case 9:
            p.kind = 512, p.sectors = 2000000;
            break;
        case 12:
            p.kind = 999;
            break;
        default:
            p.result = kProbeCannotOpen;
        }
        p.sizeGB = GigabytesOfSectors(p.sectors);
        return p;
    });
    EXPECT_EQ(probed.size(), size_t(kMaxDvrDrives));
    ASSERT_EQ(drives.size(), 4u);
    EXPECT_EQ(drives[0].drive, 1);
    EXPECT_EQ(drives[3].drive, 9);
    EXPECT_EQ(DriveMenuLabels(drives),
              (std::vector<std::string>{"SD #01\t7.9 GB", "HDD #01\t2000.4 GB",
                                        "HDD #02\t4398.0 GB", "HDD #03\t1.0 GB"}));
}

TEST(DiskProbe, TheMarkerIsLookedForWhereTheMediumKeepsIt) {
    const uint64_t cardSize = kCardDiskInfoOffset + kDiskInfoSize;
    auto disk = Sectors(4096, kDiskInfoOffset, kLittle);
    for (int i = 0; i < 16; ++i)
        disk[kDiskInfoOffset + 192 + i] = uint8_t(0xA0 + i);
    const auto diskBig = Sectors(4096, kDiskInfoOffset, kBig);
    const auto card = Sectors(cardSize, kCardDiskInfoOffset, kBig);
    const auto cardAtSector1 = Sectors(cardSize, kDiskInfoOffset, kLittle);
    const struct {
        const char* name;
        const std::vector<uint8_t>& bytes;
        MediumKind medium;
        int result, kind;
    } cases[] = {
        {"disk", disk, MediumKind::kFixed, kProbeDvrDrive, kDriveKindDisk},
        {"disk written big-endian", diskBig, MediumKind::kFixed, kProbeDvrDrive, kDriveKindDisk},
        {"card", card, MediumKind::kRemovable, kProbeDvrDrive, kDriveKindCard},
        {"card image", card, MediumKind::kImage, kProbeDvrDrive, kDriveKindCard},
        {"card marked at sector 1", cardAtSector1, MediumKind::kRemovable, kProbeNoMarker, -1},
        {"disk marked at 0x12001", card, MediumKind::kFixed, kProbeNoMarker, -1},
        {"neither", disk, MediumKind::kOther, kProbeWrongMedium, -1},
        {"no size", {}, MediumKind::kFixed, kProbeNoGeometry, -1},
    };
    for (const auto& c : cases) {
        MemoryDevice device(c.bytes);
        const DriveProbe p = ProbeRawDevice(device, c.medium);
        EXPECT_EQ(p.result, c.result) << c.name;
        EXPECT_EQ(p.kind, c.kind) << c.name;
    }
    MemoryDevice device(disk);
    const DriveProbe p = ProbeRawDevice(device, MediumKind::kFixed);
    EXPECT_EQ(p.info[0], 0xA0);
    EXPECT_EQ(p.info[15], 0xAF);
    EXPECT_EQ(p.sectors, 8u);
    EXPECT_EQ(ProbePhysicalDrive(TempPath("missing")).result, kProbeCannotOpen);
}

TEST(DiskProbe, DrivesOfAPreparedSystemTree) {
    const fs::path root = fs::path(TempPath("tree"));
    fs::remove_all(root);
    const BlockDeviceRoots roots{(root / "sys").string(), (root / "dev").string()};
    for (const char* name : {"loop0", "sda", "sdb", "sdc"})
        fs::create_directories(root / "sys" / name);
    fs::create_directories(root / "dev");
    std::ofstream(root / "sys/sda/removable") << "1\n";
    std::ofstream(root / "sys/sdb/removable") << "0\n";
    SparseFile((root / "dev/loop0").string(), 4096, kDiskInfoOffset, kLittle);
    SparseFile((root / "dev/sda").string(), 8000000000, kCardDiskInfoOffset, kLittle);
    SparseFile((root / "dev/sdb").string(), 2000398934016, kDiskInfoOffset, kBig);
    SparseFile((root / "dev/sdc").string(), 4096, 0, kLittle);

    const auto drives = FindDvrDrives(roots);
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].drive, 0);
    EXPECT_EQ(drives[1].drive, 1);
    EXPECT_EQ(DriveMenuLabels(drives),
              (std::vector<std::string>{"SD #01\t8.0 GB", "HDD #01\t2000.4 GB"}));
}

TEST(SourceKind, ArchivesImagesAndDevicesAreToldApart) {
    const std::string archive = TempPath("a.avr"), image = TempPath("d.img"),
                      card = TempPath("c.img"), both = TempPath("both.avr"),
                      other = TempPath("other.bin");
    auto bytes = Sectors(2048, 1536, "fXmQ");
    WriteBytes(archive, bytes);
    std::copy(kLittle, kLittle + 4, bytes.begin() + kDiskInfoOffset);
    WriteBytes(both, bytes); // an archive header at the end wins
    WriteBytes(image, Sectors(2048, kDiskInfoOffset, kBig));
    SparseFile(card, kCardDiskInfoOffset + 4096, kCardDiskInfoOffset, kLittle);
    WriteBytes(other, std::vector<uint8_t>(4096, 7));

    EXPECT_EQ(ClassifySource(archive), SourceKind::kArchive);
    EXPECT_EQ(ClassifySource(both), SourceKind::kArchive);
    EXPECT_EQ(ClassifySource(image), SourceKind::kDiskImage);
    EXPECT_EQ(ClassifySource(card), SourceKind::kDiskImage);
    std::string why;
    EXPECT_EQ(ClassifySource(other, &why), SourceKind::kUnknown);
    EXPECT_EQ(why, "neither a DVR archive nor a DVR disk image");
    EXPECT_EQ(ClassifySource(TempPath("missing"), &why), SourceKind::kUnknown);
    EXPECT_EQ(why, "No such file or directory");
    EXPECT_EQ(ClassifySource(fs::temp_directory_path().string()), SourceKind::kUnknown);
    for (const auto& entry : fs::directory_iterator("/dev")) {
        struct stat st {};
        if (::stat(entry.path().c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
            EXPECT_EQ(ClassifySource(entry.path().string()), SourceKind::kBlockDevice);
            break;
        }
    }
}
