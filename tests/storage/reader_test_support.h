#pragma once
// Shared set-up for the storage reader tests: recordings written by the
// generator library into a per-test directory, what each of them must deliver
// (rebuilt from the generator's own schedule and encoder, independent of the
// reader) and loops that drive the reader the way the play thread does.

#include "storage/formats.h"
#include "storage/parse_index.h"
#include "tools/mkrec/recording_plan.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qm::test {

// A fresh directory for the running test.
std::string TempPath(const std::string& name);

// Two cameras in one group, small pictures, blocks of 8 KB: many blocks in a
// recording of a few seconds.
mkrec::RecordingPlan SmallPlan();

// Writes the plan as an archive; returns its path.
std::string WriteArchive(const mkrec::RecordingPlan& plan, const std::string& name = "rec.avr");

struct ExpectedFrame {
    int channel = 0;
    uint32_t time = 0;
    uint16_t ms = 0;
    bool key = false;
    uint32_t sequence = 0;
    uint16_t index = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> stream; // the coded picture, before any chip wrapping
    uint8_t audioType = 0;
    size_t audioBytes = 0;
};

// Every frame the plan writes, in delivery order: time, then milliseconds,
// then the lower channel.
std::vector<ExpectedFrame> ExpectedFrames(const mkrec::RecordingPlan& plan);

struct Delivered {
    FrameRecord video{};
    std::vector<uint8_t> bytes; // the record's payload
    uint32_t audioCodec = 0;
    uint32_t audioSize = 0;
    uint32_t index = 0;
};

struct ReadLimits {
    size_t maxFrames = 100000;
    int64_t stallMs = 2000; // per WaitForPreparedSlots
    int64_t deadlineMs = 30000;
    bool keyFramesOnly = false; // forward only
    bool prepareHere = false;   // refill the slots on the reading thread
};

struct ReadOutcome {
    bool timedOut = false; // the loop had to be cut off by the deadline
    int stalls = 0;        // WaitForPreparedSlots gave up waiting
};

// Forward play until no channel has a frame left, letting every channel fill
// its slot before each call so that the order is the true merge order.
std::vector<Delivered> ReadForward(CQMParseIndex& reader, const ReadLimits& limits = {},
                                   ReadOutcome* outcome = nullptr);
// Reverse play with GetPrevFrame until no channel has a key frame left.
std::vector<Delivered> ReadReverse(CQMParseIndex& reader, const ReadLimits& limits = {},
                                   ReadOutcome* outcome = nullptr);

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
uint64_t Fnv1a(const std::vector<uint8_t>& bytes);

// Where the structures of a generated archive lie, found with the record
// parsers (checked on their own elsewhere).
struct FrameLocation {
    uint64_t position = 0; // of the frame header in the file
    int channel = 0;
    bool key = false;
    uint32_t block = 0;
};
struct BlockLocation {
    uint64_t start = 0;
    uint64_t pTable = 0, iTable = 0, header = 0; // file positions
    uint64_t dataLength = 0;
};
struct ArchiveMap {
    uint8_t byteOrder = 1;
    uint64_t headerPosition = 0;
    uint64_t miniTable = 0;
    uint32_t miniCount = 0;
    uint32_t blockSize = 0;
    std::vector<BlockLocation> blocks;
    std::vector<FrameLocation> frames; // table order, block by block
    std::vector<size_t> blocksPerGroup;
};
ArchiveMap MapArchive(const std::vector<uint8_t>& file);

struct ToolResult {
    int status = -1; // exit status, -1 when it did not exit normally
    std::string out;
    std::string err;
};
// Runs qmtool (QMTOOL from the environment, else the one built with the tests)
// with the given arguments, already quoted for the shell.
// Runs qmtool in the time zone `zone` (TZ), so its clock texts are known.
ToolResult RunQmtool(const std::string& arguments, const std::string& zone = "UTC");

// Stores a 32-bit header field in the archive's byte order.
void PutHeader32(std::vector<uint8_t>& file, size_t offset, uint32_t value);

} // namespace qm::test
