// qmtool recover: what a scan for the blocks themselves finds in an archive or
// on a DVR disk, without playing it: the block size, the blocks found and
// whether the source's own index lists them, the time each camera covers with its gaps,
// and the places where no block could be read.

#include "platform/recorded_time.h"
#include "storage/archive_scan.h"
#include "storage/disk_scan.h"
#include "storage/file_reader.h"
#include "storage/recording_index.h"
#include "storage/source_kind.h"
#include "tools/qmtool/commands.h"
#include "tools/qmtool/progress_line.h"
#include "tools/qmtool/run_summary.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace qmtool {

namespace {

// Gaps are reported as the other commands report them: over 2 seconds.
constexpr uint32_t kGapSeconds = 2;

struct Span {
    uint32_t first = 0;
    uint32_t last = 0;
};

// The seconds each camera's blocks cover, merged where they meet or overlap
// within the gap tolerance.
std::map<int, std::vector<Span>> CoveredSpans(const qm::ArchiveScan& scan) {
    std::map<int, std::vector<Span>> byCamera;
    for (const qm::ScannedBlock& block : scan.blocks) {
        const auto& h = block.header;
        if (h.startTime > h.endTime) continue;
        for (int c = 0; c < 32; ++c)
            if (block.channelMask & (1u << c)) byCamera[c + 1].push_back({h.startTime, h.endTime});
    }
    for (auto& [camera, spans] : byCamera) {
        std::sort(spans.begin(), spans.end(),
                  [](const Span& a, const Span& b) { return a.first < b.first; });
        std::vector<Span> merged;
        for (const Span& s : spans) {
            if (!merged.empty() && s.first <= merged.back().last + kGapSeconds)
                merged.back().last = std::max(merged.back().last, s.last);
            else
                merged.push_back(s);
        }
        spans = std::move(merged);
    }
    return byCamera;
}

// The scan of an archive file, run beside a progress line on a terminal.
std::optional<qm::ArchiveScan> ScanArchiveFile(const std::string& source, const std::string& why,
                                               std::string& error) {
    const int fd = qm::OpenReadOnly(source);
    if (fd < 0) {
        error = source + ": " + (why.empty() ? "cannot be opened" : why);
        return std::nullopt;
    }
    const uint64_t length = qm::FileLength(fd);
    std::atomic<int> percent{0};
    qm::IndexError failure;
    std::optional<qm::ArchiveScan> scan;
    RunWithProgressLine(
        "scanning", [&] { return percent.load(); },
        [&] { scan = qm::ScanArchive(fd, length, failure, &percent); });
    ::close(fd);
    if (!scan)
        error = source + ": " + failure.text;
    else if (scan->blocks.empty())
        error = source + ": no recording found: not one block header (QmBh) in " +
                std::to_string(length) + " bytes";
    return scan;
}

// The scan of a DVR disk's ring, from the data base its information sector
// gives, told which blocks its table (MHS) lists.
std::optional<qm::ArchiveScan> ScanDisk(const std::string& source, std::string& error) {
    int code = 0;
    const auto device = qm::OpenRawDevice(source, &code);
    if (!device) {
        error = source + ": cannot be opened: " + std::strerror(code);
        return std::nullopt;
    }
    qm::IndexError failure;
    const auto sector = qm::FindDiskInfo(*device, failure);
    if (!sector) {
        error = source + ": no recording found: " + failure.text;
        return std::nullopt;
    }
    qm::IndexError tableFailure;
    const auto table = qm::ReadDiskTable(*device, sector->info, tableFailure);
    const qm::ByteView mhs = table ? qm::ByteView(table->data(), table->size()) : qm::ByteView();
    std::atomic<int> percent{0};
    std::optional<qm::ArchiveScan> scan;
    RunWithProgressLine(
        "scanning", [&] { return percent.load(); },
        [&] { scan = qm::ScanDiskRing(*device, sector->info, mhs, failure, &percent); });
    if (!scan) {
        error = source + ": " + failure.text;
    } else {
        if (!table) scan->indexProblem = tableFailure.text;
        if (scan->blocks.empty())
            error = source + ": no recording found: not one block header "
                             "(QmBh) in the disk's ring";
    }
    return scan;
}

} // namespace

int RunRecover(const ParsedArgs& args) {
    if (args.positionals.size() != 1) return UsageError("recover needs one SOURCE");
    const std::string& source = args.positionals[0];
    std::string why, error;
    const qm::SourceKind kind = qm::ClassifySource(source, &why);
    const bool disk = kind == qm::SourceKind::kDiskImage || kind == qm::SourceKind::kBlockDevice;
    const auto scan = disk ? ScanDisk(source, error) : ScanArchiveFile(source, why, error);
    if (!error.empty()) return Fail(error);
    const uint64_t length = scan->fileLength;

    const qm::ClockView clock{0, true}; // the blocks carry stored UTC times
    const auto covered = CoveredSpans(*scan);
    const uint64_t indexed = scan->Indexed();
    if (args.has("--json")) {
        Json j;
        j["source"] = source;
        j["kind"] = disk ? "disk" : "archive";
        j["size"] = length;
        j["block_size"] = scan->blockSize;
        j["byte_order"] = scan->byteOrder;
        j["header_usable"] = scan->headerUsable;
        j["table_usable"] = scan->tableUsable;
        j["index_problem"] = scan->indexProblem.empty() ? Json() : Json(scan->indexProblem);
        j["blocks"] = {{"found", scan->blocks.size()},
                       {"indexed", indexed},
                       {"unindexed", scan->blocks.size() - indexed}};
        Json cameras = Json::array();
        for (const auto& [camera, spans] : covered) {
            Json c;
            c["camera"] = camera;
            Json list = Json::array();
            for (const Span& s : spans)
                list.push_back(
                    {{"first", s.first},
                     {"last", s.last},
                     {"first_clock", qm::FormatClock(clock, qm::ToStoredMs(s.first), false)},
                     {"last_clock", qm::FormatClock(clock, qm::ToStoredMs(s.last), false)}});
            c["spans"] = list;
            c["gaps"] = spans.size() - 1;
            cameras.push_back(c);
        }
        j["cameras"] = cameras;
        Json damage = Json::array();
        for (const qm::ScannedDamage& d : scan->damage)
            damage.push_back({{"offset", d.offset}, {"length", d.length}, {"what", d.what}});
        j["damaged"] = damage;
        std::printf("%s\n", Dump(j).c_str());
        return 0;
    }
    std::printf("%s: %llu bytes\n", source.c_str(), static_cast<unsigned long long>(length));
    std::printf("index: %s\n", scan->indexProblem.empty() ? "intact" : scan->indexProblem.c_str());
    std::printf("block size: %u bytes, %s\n", scan->blockSize,
                scan->byteOrder == qm::kByteOrderLittle ? "little-endian" : "big-endian");
    std::printf("blocks: %zu found, %llu indexed, %llu unindexed (found only by scanning)\n",
                scan->blocks.size(), static_cast<unsigned long long>(indexed),
                static_cast<unsigned long long>(scan->blocks.size() - indexed));
    for (const auto& [camera, spans] : covered) {
        std::printf("camera %d:", camera);
        for (const Span& s : spans)
            std::printf(" %s to %s;",
                        qm::FormatClock(clock, qm::ToStoredMs(s.first), false).c_str(),
                        qm::FormatClock(clock, qm::ToStoredMs(s.last), false).c_str());
        std::printf(" %zu gaps\n", spans.size() - 1);
    }
    for (const qm::ScannedDamage& d : scan->damage)
        std::printf("damaged: bytes %llu to %llu (%llu bytes): %s\n",
                    static_cast<unsigned long long>(d.offset),
                    static_cast<unsigned long long>(d.offset + d.length),
                    static_cast<unsigned long long>(d.length), d.what.c_str());
    return 0;
}

} // namespace qmtool
