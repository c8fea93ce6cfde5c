#include "storage/archive_scan.h"

#include "storage/file_reader.h"

#include <algorithm>
#include <array>
#include <map>
#include <new>

namespace qm {

namespace {

// Sequential reads into a buffer that stays in the processor's cache.
constexpr size_t kScanReadBytes = size_t(128) << 10;
// An archive's first block header lies within its first two blocks (the
// first may be the damaged one); a file with none that far in is no archive,
// and is not read to its end to find that out.
constexpr uint64_t kNoBlockGiveUpBytes = 2 * kMaxBlockSize;
// A header position that does not fit a block size seen elsewhere is data
// that happens to hold the marker; a recording has few of them, garbage may
// have many. Past this many candidates the rest are not kept.
constexpr size_t kMaxCandidates = size_t(1) << 22;
// The headers read sector by sector before the block size is trusted, and how
// many of them must agree on it; from then on one sector a block is read.
constexpr size_t kProbeHeaders = 8;
constexpr size_t kProbeAgreeing = 3;

struct Candidate {
    uint64_t position = 0; // of the header sector
    uint8_t byteOrder = kByteOrderLittle;
    BlockHeader header;
};

std::optional<uint8_t> MarkerOrder(const uint8_t* sector) {
    const uint8_t* m = sector + block_field::kMarker;
    if (loadLE32(m) == kMagicBlock) return kByteOrderLittle;
    if (loadBE32(m) == kMagicBlock) return kByteOrderPayloadBig;
    return std::nullopt;
}

// The group of block `number`: its first frame's camera tells.
int GroupOfBlock(int fd, uint64_t start, uint8_t byteOrder) {
    std::array<uint8_t, kFrameHeaderSize> bytes{};
    if (!ReadExact(fd, start, bytes.data(), bytes.size())) return 0;
    const auto frame = parseFrameHeader(ByteView(bytes.data(), bytes.size()), byteOrder);
    return frame && frame->hasMarker() && frame->channel >= kChannelsPerGroup &&
                   frame->channel < kMaxChannels
               ? 1
               : 0;
}

} // namespace

uint64_t ArchiveScan::Indexed() const {
    return uint64_t(std::count_if(blocks.begin(), blocks.end(),
                                  [](const ScannedBlock& b) { return b.indexed; }));
}

uint32_t BlockSizeFromHeaderEnds(const std::vector<uint64_t>& headerEnds) {
    if (headerEnds.empty()) return 0;
    std::vector<uint64_t> ends = headerEnds;
    std::sort(ends.begin(), ends.end());
    // Whole blocks follow each other, so the block size is among the steps
    // from one header to the next (and the first end, when block 0 is
    // there). A marker that happens to lie in the data adds odd steps: the
    // size that puts the most headers on block boundaries wins, the larger
    // on a tie (half the headers also lie on a grid twice as coarse, all of
    // them on one half as fine).
    std::map<uint64_t, size_t> steps;
    steps[ends.front()]++;
    for (size_t i = 1; i < ends.size(); ++i)
        if (ends[i] > ends[i - 1]) steps[ends[i] - ends[i - 1]]++;
    std::vector<std::pair<size_t, uint64_t>> byCount;
    for (const auto& [step, count] : steps)
        if (step >= 2 * kSectorSize && step % kSectorSize == 0 && step <= kMaxBlockSize)
            byCount.push_back({count, step});
    std::sort(byCount.rbegin(), byCount.rend());
    if (byCount.size() > 16) byCount.resize(16); // the likely ones; garbage has many
    uint64_t best = 0;
    size_t bestFit = 0;
    for (const auto& [count, size] : byCount) {
        const size_t fit = size_t(std::count_if(
            ends.begin(), ends.end(), [size = size](uint64_t e) { return e % size == 0; }));
        if (fit > bestFit || (fit == bestFit && size > best)) {
            best = size;
            bestFit = fit;
        }
    }
    return uint32_t(best);
}

std::optional<ArchiveScan> ScanArchive(int fd, uint64_t fileLength, IndexError& error,
                                       std::atomic<int>* percent) {
    ArchiveScan scan;
    scan.fileLength = fileLength;
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(kScanReadBytes);
    } catch (const std::bad_alloc&) {
        error.fault = IndexFault::kNoMemory;
        error.text = "no memory for the scan";
        return std::nullopt;
    }

    // A pass over [from, to): every sector that holds the block marker where
    // a block header holds it. `enough(at)` may end it early.
    std::vector<Candidate> candidates;
    auto pass = [&](uint64_t from, uint64_t to, auto&& enough) -> std::optional<uint64_t> {
        for (uint64_t at = from; at < to;) {
            const size_t want = size_t(std::min<uint64_t>(buffer.size(), to - at));
            if (!ReadExact(fd, at, buffer.data(), want)) {
                error.fault = IndexFault::kTableUnreadable;
                error.text = "reading failed at byte " + std::to_string(at);
                return std::nullopt;
            }
            for (size_t s = 0; s < want && candidates.size() < kMaxCandidates; s += kSectorSize)
                if (const auto order = MarkerOrder(buffer.data() + s))
                    if (const auto header =
                            parseBlockHeader(ByteView(buffer.data() + s, kSectorSize), *order))
                        candidates.push_back({at + s, *order, *header});
            at += want;
            if (enough(at)) return at;
        }
        return to;
    };
    // The byte order most headers agree on, and the block size they share.
    auto decide = [&] {
        const auto little =
            std::count_if(candidates.begin(), candidates.end(),
                          [](const Candidate& c) { return c.byteOrder == kByteOrderLittle; });
        scan.byteOrder =
            size_t(little) * 2 >= candidates.size() ? kByteOrderLittle : kByteOrderPayloadBig;
        std::erase_if(candidates,
                      [&](const Candidate& c) { return c.byteOrder != scan.byteOrder; });
        std::vector<uint64_t> ends;
        for (const Candidate& c : candidates)
            ends.push_back(c.position + kSectorSize);
        scan.blockSize = BlockSizeFromHeaderEnds(ends);
    };
    auto onGrid = [&](uint64_t size) {
        return size_t(std::count_if(candidates.begin(), candidates.end(), [&](const Candidate& c) {
            return size && (c.position + kSectorSize) % size == 0;
        }));
    };
    auto showProgress = [&](uint64_t at) {
        if (percent) percent->store(int(at * 100 / std::max<uint64_t>(fileLength, 1)));
    };
    const uint64_t end = fileLength / kSectorSize * kSectorSize;

    // Every sector from the start until a few headers agree on a block size
    // (or the file shows none where an archive would).
    const auto probed = pass(0, end, [&](uint64_t at) {
        showProgress(at);
        if (candidates.empty()) return at >= kNoBlockGiveUpBytes;
        return candidates.size() >= kProbeHeaders;
    });
    if (!probed) return std::nullopt;
    decide();
    const uint64_t P = scan.blockSize; // the block size the first headers give
    const bool agreed = P && onGrid(P) >= kProbeAgreeing && onGrid(P) * 2 > candidates.size();
    if (!candidates.empty() && *probed < end && agreed) {
        // From there on only where the headers must be: one sector a block.
        // A block without its header is read whole, so that a header out of
        // place (another block size after all) is seen.
        std::array<uint8_t, kSectorSize> sector{};
        for (uint64_t n = *probed / P; (n + 1) * P <= end; ++n) {
            const uint64_t at = (n + 1) * P - kSectorSize;
            if (at < *probed) continue;
            if (!ReadExact(fd, at, sector.data(), sector.size())) {
                error.fault = IndexFault::kTableUnreadable;
                error.text = "reading failed at byte " + std::to_string(at);
                return std::nullopt;
            }
            const auto order = MarkerOrder(sector.data());
            const auto header = order == scan.byteOrder
                                    ? parseBlockHeader(ByteView(sector.data(), kSectorSize), *order)
                                    : std::nullopt;
            if (header && candidates.size() < kMaxCandidates)
                candidates.push_back({at, *order, *header});
            else if (!pass(std::max(n * P, *probed), (n + 1) * P, [](uint64_t) { return false; }))
                return std::nullopt;
            showProgress(at + kSectorSize);
        }
        decide();
    }
    if (!agreed || scan.blockSize != P) {
        // No block size stood out, or the rest of the file says another:
        // every sector of the file decides.
        candidates.clear();
        if (!pass(0, end, [&](uint64_t at) {
                showProgress(at);
                return candidates.empty() && at >= kNoBlockGiveUpBytes;
            }))
            return std::nullopt;
        decide();
    }
    const uint64_t B = scan.blockSize;

    // What the archive's own index says, to tell the blocks it lists.
    IndexError ignored;
    std::map<uint32_t, MiniHeader> listed;
    if (const auto header = ReadStoredArchiveHeader(fd, fileLength, ignored);
        header && header->hasMagic() && CheckArchiveLayout(*header, fileLength, ignored)) {
        scan.headerUsable = true;
        if (const auto table =
                ReadStoredArchiveBlocks(fd, *header, fileLength, kEveryGroup, ignored))
            for (const ArchiveBlock& block : *table)
                if (block.mini.type() != 0) listed.emplace(block.number, block.mini);
    }

    if (B) {
        for (const Candidate& c : candidates) {
            const uint64_t end = c.position + kSectorSize;
            if (end % B != 0) continue;
            const uint64_t number = end / B - 1;
            if (number > UINT32_MAX ||
                !blockGeometry(number, uint32_t(B), c.header.iSectors, c.header.pSectors))
                continue;
            ScannedBlock block;
            block.number = uint32_t(number);
            block.header = c.header;
            block.group = GroupOfBlock(fd, number * B, scan.byteOrder);
            block.channelMask = channelMaskOfGroup(c.header.channelMask, block.group);
            const auto entry = listed.find(block.number);
            block.indexed = entry != listed.end() &&
                            entry->second.startTime == c.header.startTime &&
                            entry->second.endTime == c.header.endTime;
            scan.blocks.push_back(block);
        }
    }
    scan.tableUsable =
        scan.headerUsable && !scan.blocks.empty() && scan.Indexed() == scan.blocks.size();
    if (!scan.headerUsable)
        scan.indexProblem = "the archive header is missing or damaged";
    else if (!scan.tableUsable)
        scan.indexProblem = "the mini header table lists " + std::to_string(scan.Indexed()) +
                            " of the " + std::to_string(scan.blocks.size()) + " blocks found";

    // Block places without a block, up to where the blocks end: the archive's
    // table when its header says where that is, else the end of the file.
    if (B) {
        uint64_t end = fileLength;
        if (scan.headerUsable)
            if (const auto header = ReadStoredArchiveHeader(fd, fileLength, ignored))
                end = std::min(end, header->miniTableOffset);
        size_t next = 0;
        for (uint64_t n = 0; (n + 1) * B <= end; ++n) {
            while (next < scan.blocks.size() && scan.blocks[next].number < n)
                ++next;
            if (next < scan.blocks.size() && scan.blocks[next].number == n) continue;
            if (!scan.damage.empty() && scan.damage.back().what == "no block header" &&
                scan.damage.back().offset + scan.damage.back().length == n * B)
                scan.damage.back().length += B;
            else
                scan.damage.push_back({n * B, B, "no block header"});
        }
        if (!scan.headerUsable && end % B != 0)
            scan.damage.push_back(
                {end - end % B, end % B, "an incomplete block: the file ends inside it"});
    }
    if (percent) percent->store(100);
    return scan;
}

} // namespace qm
