#pragma once
// The record an export leaves beside its outputs, so that anyone can later
// show that the files are what was exported and that they hold the recorded
// pictures unchanged: which program wrote them and how it was called, the
// SHA-256 of the source and of every output, and one entry per picture with
// the hash of its bytes as the recording stored them.
//
// Writers of any container feed it through the same two calls: AddPicture
// for every picture written (on the writer's thread) and FinishOutput when a
// file is complete. The builder knows nothing of containers, so the hashes of
// the pictures are of the stored bytes, plus a form that survives a muxer
// turning Annex-B start codes into length prefixes (CanonicalNals).
//
// Not thread-safe: one thread feeds it at a time (the export job's), and the
// caller hands it over by joining that thread.

#include "export/export_frame.h"
#include "platform/byte_order.h"
#include "platform/output_files.h"
#include "platform/recorded_time.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qm {

using ManifestJson = nlohmann::ordered_json;

// A source larger than this (or any block device) is recorded by the hashes
// of the pieces the export read, unless the whole is asked for: hashing a
// 2 TB disk would take hours for a few minutes of video.
constexpr uint64_t kWholeSourceHashLimit = uint64_t(64) << 30;

// Incremental SHA-256 (OpenSSL's EVP), lower-case hex at the end.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void Update(const uint8_t* data, size_t size);
    void Update(ByteView bytes) { Update(bytes.data(), bytes.size()); }
    std::string FinalHex();

private:
    struct Context;
    std::unique_ptr<Context> m_pContext;
};

std::string Sha256Hex(ByteView bytes);

// The hash of `length` bytes of `path` from `offset` (all of it when
// unset), read in large sequential pieces. `size` gets the bytes hashed.
// False with a message when the file cannot be opened or read whole.
// A set `stop` ends the reading early, as a failure.
bool HashFile(const std::string& path, std::string& hex, uint64_t& size, std::string& error,
              uint64_t offset = 0, std::optional<uint64_t> length = std::nullopt,
              const std::atomic<bool>* stop = nullptr);

// How H.264 units are framed: Annex-B start codes (as recorded, and in AVI)
// or big-endian length prefixes (AVCC, as MP4 and Matroska store them).
enum class NalFraming { kAnnexB, kLengthPrefixed };

// Calls `each` for every NAL unit payload in `bytes`. Annex-B takes 3- and
// 4-byte start codes; bytes before the first start code that are not all
// zero count as a unit. A unit's final zero bytes are left out in either
// framing: in Annex-B they cannot be told from the padding before a start
// code, and muxers differ in whether they keep them.
// False when length-prefixed data runs past its end.
bool ForEachNal(ByteView bytes, NalFraming framing, int lengthSize,
                const std::function<void(ByteView)>& each);
// The units of `bytes` each behind a 4-byte start code: the same bytes
// whichever framing a container chose. nullopt when the framing is broken.
std::optional<std::vector<uint8_t>> CanonicalNals(ByteView bytes, NalFraming framing,
                                                  int lengthSize = 4);
std::optional<std::string> CanonicalNalSha256(ByteView bytes, NalFraming framing,
                                              int lengthSize = 4);
// Whether Annex-B `bytes` are their own canonical form: every unit behind a
// 4-byte start code, nothing before the first, no zero bytes after any.
bool IsCanonicalAnnexB(ByteView bytes);

// The default manifest beside an export: NAME.manifest.json for one file
// (out.avi -> out.avi.manifest.json, so exports of one name to different
// containers keep apart), manifest.json inside an output folder.
std::string DefaultManifestPath(const std::string& output, bool outputIsFolder);

class ManifestBuilder {
public:
    // `clock` is how the times are written as text (as the command shows them).
    explicit ManifestBuilder(ClockView clock) : m_clock(clock) {}

    void SetTool(const std::string& name, const std::string& version, const std::string& command,
                 std::vector<std::string> commandLine);
    // "archive" or "disk".
    void SetSource(const std::string& path, const std::string& kind);
    // The source's own index was damaged: its `blocks` were found by a scan.
    void SetSourceRecovered(uint32_t blocks) { m_nRecoveredBlocks = blocks; }

    // Feed: a picture written into the output being written, and a piece of
    // the source read.
    void AddPicture(int channel, const ExportFrame& frame);
    void AddSourceRead(uint64_t offset, ByteView bytes);
    // The pictures added since the last output went into `path` (camera
    // `channel`, 0-31). `damagedSkipped` is the camera's running count of
    // damaged frames skipped; the output gets those since its camera's last.
    void FinishOutput(const std::string& path, int channel, const std::string& format,
                      uint64_t damagedSkipped);
    // A file without pictures (the sound as WAV).
    void AddFile(const std::string& path, const std::string& format);

    // Hashes every output once written; `writtenAt` names where a file's
    // bytes are now (a replacement waits under a temporary name until the
    // run is committed).
    bool HashOutputs(const std::function<std::string(const std::string&)>& writtenAt,
                     std::string& error);
    // Before the export: whether the source is hashed whole, or by the
    // pieces read when it is a disk on a block device or larger than
    // `wholeLimit` and `whole` was not asked for. False with a message when
    // the source cannot be examined.
    bool ChooseSourceHash(bool whole, std::string& error,
                          uint64_t wholeLimit = kWholeSourceHashLimit);
    bool WantsSourceReads() const { return !m_bWholeSource; }
    // After the export: hashes the whole source when that was chosen.
    // Touches only the source's hash and size: it may run on a thread of its
    // own while the export feeds the rest. `stop` abandons it.
    bool HashSource(std::string& error, const std::atomic<bool>* stop = nullptr);

    // `manifestPath` is where it will be written: outputs in its folder are
    // named relative to it, so the folder can be moved as one.
    ManifestJson ToJson(const std::string& manifestPath) const;
    // Writes the manifest through the run's outputs (the name must already be
    // reserved or free). False with a message.
    bool Write(OutputFiles& outputs, const std::string& path, std::string& error) const;

private:
    struct Picture {
        StoredMs time = 0;
        bool key = false;
        uint32_t size = 0;
        std::string sha256;
        std::string nalSha256; // empty when the bytes are no Annex-B stream
    };
    struct Output {
        std::string path;
        int channel = -1; // -1: no pictures (a sound file)
        std::string format;
        uint64_t size = 0;
        std::string sha256;
        uint64_t damaged = 0;
        std::vector<Picture> pictures;
    };
    ManifestJson TimeJson(StoredMs t) const;

    ClockView m_clock;
    std::string m_tool, m_version, m_command;
    std::vector<std::string> m_commandLine;
    std::string m_created;
    std::string m_sourcePath, m_sourceKind;
    uint32_t m_nRecoveredBlocks = 0;
    uint64_t m_sourceSize = 0;
    bool m_bWholeSource = true;
    std::string m_sourceSha256;
    std::map<std::pair<uint64_t, uint64_t>, std::string> m_sourcePieces; // (offset, length)
    // Pictures of files not finished yet, per camera: several cameras' files
    // are written side by side.
    std::map<int, std::vector<Picture>> m_pending;
    std::vector<Output> m_outputs;
    std::map<int, uint64_t> m_damagedSoFar; // by channel
};

} // namespace qm
