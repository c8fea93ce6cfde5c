// Raw disks: which block devices count as drives, reads by 64-bit offset with
// their error codes, and reads that give up after a time limit.

#include "platform/block_devices.h"
#include "platform/raw_device.h"
#include "platform/timed_read.h"
#include "tests/process_temp_dir.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace qm;
namespace fs = std::filesystem;

namespace {

fs::path TestDir() {
    static const test::ProcessTempDir process("raw_device");
    return process.ForCurrentTest();
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

// Reads at offsets from `held` on wait until Release(); reads at `failing` fail.
class GatedDevice : public IRawDevice {
public:
    int Read(void* buffer, uint64_t offset, size_t length) override {
        if (offset == failing) return EIO;
        std::unique_lock lock(m_lock);
        if (offset >= held) {
            ++waiting;
            m_cond.wait(lock, [&] { return m_released; });
        }
        std::memset(buffer, int(offset & 0xFF), length);
        return 0;
    }
    uint64_t Size() const override { return uint64_t(1) << 40; }
    void Release() {
        std::lock_guard lock(m_lock);
        m_released = true;
        m_cond.notify_all();
    }
    uint64_t held = UINT64_MAX;
    uint64_t failing = UINT64_MAX;
    std::atomic<int> waiting{0};

private:
    std::mutex m_lock;
    std::condition_variable m_cond;
    bool m_released = false;
};

} // namespace

TEST(BlockDevices, DrivesAreTheWholeDisksSortedByName) {
    for (const char* yes : {"sda", "sdab", "vdb", "nvme0n1", "nvme12n3", "mmcblk0"})
        EXPECT_TRUE(IsWholeDiskName(yes)) << yes;
    for (const char* no : {"sda1", "nvme0n1p2", "nvme0", "mmcblk0p1", "mmcblk0boot0", "mmcblk0rpmb",
                           "loop0", "sr0", "dm-0", "zram0", "ram1", "sd", "md127"})
        EXPECT_FALSE(IsWholeDiskName(no)) << no;

    const fs::path root = TestDir();
    BlockDeviceRoots roots{(root / "sys").string(), "/devices"};
    for (const char* name : {"sdb", "loop0", "sda", "mmcblk0", "mmcblk0boot0", "nvme0n1", "vda"})
        fs::create_directories(root / "sys" / name);
    WriteText(root / "sys/sdb/removable", "1\n");
    WriteText(root / "sys/sda/removable", "0\n");
    WriteText(root / "sys/mmcblk0/removable", "0\n");

    EXPECT_EQ(ListWholeDisks(roots),
              (std::vector<std::string>{"mmcblk0", "nvme0n1", "sda", "sdb", "vda"}));
    const auto card = PhysicalDriveAt(0, roots); // an MMC host calls its card fixed
    ASSERT_TRUE(card);
    EXPECT_EQ(card->path, "/devices/mmcblk0");
    EXPECT_EQ(card->medium, MediumKind::kRemovable);
    EXPECT_EQ(PhysicalDriveAt(2, roots)->medium, MediumKind::kFixed);
    EXPECT_EQ(PhysicalDriveAt(3, roots)->medium, MediumKind::kRemovable);
    EXPECT_EQ(PhysicalDriveAt(4, roots)->medium, MediumKind::kFixed); // no flag: a disk
    EXPECT_FALSE(PhysicalDriveAt(5, roots));
    EXPECT_FALSE(PhysicalDriveAt(-1, roots));
}

TEST(RawDevice, ReadAtTakes64BitOffsetsAndReportsErrorCodes) {
    const fs::path dir = TestDir();
    const fs::path image = dir / "image";
    const uint64_t far = (uint64_t(5) << 30) + 512; // beyond 32 bits
    {
        std::ofstream out(image, std::ios::binary);
        out.seekp(std::streamoff(far));
        out.write("QmVd", 4);
    }
    fs::resize_file(image, far + 512); // sparse

    int error = -1;
    auto device = OpenRawDevice(image.string(), &error);
    ASSERT_TRUE(device);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(device->Size(), far + 512);
    char word[4] = {};
    EXPECT_EQ(ReadAt(word, far, 4, *device), 4);
    EXPECT_EQ(std::memcmp(word, "QmVd", 4), 0);

    const int32_t pastEnd = ReadAt(word, far + 510, 4, *device);
    EXPECT_LT(pastEnd, 0);
    EXPECT_EQ(ReadErrorCode(pastEnd), EIO);
    EXPECT_EQ(ReadErrorCode(ReadAt(word, 0, 0, *device)), EINVAL);
    EXPECT_LT(ReadFailure(996), 0);
    EXPECT_EQ(ReadErrorCode(ReadFailure(996)), 996);

    EXPECT_FALSE(OpenRawDevice((dir / "missing").string(), &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(MediumOfPath(image.string()), MediumKind::kImage);
    EXPECT_EQ(MediumOfPath(dir.string()), MediumKind::kOther);
    EXPECT_EQ(MediumOfPath("/dev/null"), MediumKind::kOther);
}

TEST(TimedRead, AReadGivenUpNeverWritesTheBufferAndOthersGoOn) {
    auto device = std::make_shared<GatedDevice>();
    device->held = 4096;
    device->failing = 512;
    {
        TimedBlockReader reader(device);
        std::vector<uint8_t> buffer(512, 0xEE);
        const std::vector<uint8_t> untouched = buffer;

        TimedReadResult r = reader.Read(buffer.data(), 4096, buffer.size(), 20);
        EXPECT_EQ(r.status, TimedReadStatus::kTimedOut);
        EXPECT_EQ(r.error, ETIMEDOUT);
        EXPECT_EQ(buffer, untouched);

        r = reader.Read(buffer.data(), 512, buffer.size(), 60000);
        EXPECT_EQ(r.status, TimedReadStatus::kFailed);
        EXPECT_EQ(r.error, EIO);
        EXPECT_EQ(buffer, untouched);

        // A hanging read does not hold up reads elsewhere on the disk.
        r = reader.Read(buffer.data(), 1024, buffer.size(), 60000);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(buffer, std::vector<uint8_t>(512, 1024 & 0xFF));

        // Until a few hanging reads are pending; then reads are refused.
        for (size_t i = 1; i < TimedBlockReader::kMaxPendingReads; ++i)
            EXPECT_EQ(reader.Read(buffer.data(), 4096 + i, 16, 20).status,
                      TimedReadStatus::kTimedOut);
        EXPECT_EQ(reader.PendingReads(), TimedBlockReader::kMaxPendingReads);
        EXPECT_EQ(reader.Read(buffer.data(), 0, 16, 60000).status, TimedReadStatus::kTimedOut);

        device->Release();
        while (reader.PendingReads() != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        r = reader.Read(buffer.data(), 2048, buffer.size(), 60000);
        EXPECT_TRUE(r.ok());
        EXPECT_EQ(device->waiting.load(), int(TimedBlockReader::kMaxPendingReads));
    } // the reader waits here for the reads it gave up
}
