#include "export/manifest.h"

#include "storage/file_reader.h"

#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qm {

namespace {

// Large enough that a disk reads at its sequential speed, small enough to
// stay out of the way of the rest of the process.
constexpr size_t kHashReadBytes = size_t(4) << 20;
// Gaps are reported as qmtool's summary reports them.
constexpr StoredMs kGapMs = 2000;
constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

std::string UtcNowIso8601() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

// A name as the manifest at `manifestPath` should carry it: relative when
// the file lies in the manifest's folder or below, absolute otherwise.
std::string NameFromManifest(const std::string& path, const std::string& manifestPath) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file = fs::absolute(path, ec).lexically_normal();
    if (ec) return path;
    const fs::path folder = fs::absolute(manifestPath, ec).lexically_normal().parent_path();
    if (ec) return file.string();
    const fs::path relative = file.lexically_relative(folder);
    if (relative.empty() || *relative.begin() == "..") return file.string();
    return relative.string();
}

} // namespace

namespace {

// Fetched once: OpenSSL 3 looks the algorithm up (under a lock) on every
// initialisation by EVP_sha256(), which cost more than hashing a picture.
const EVP_MD* Sha256Algorithm() {
    static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return md;
}

} // namespace

struct Sha256::Context {
    EVP_MD_CTX* ctx = nullptr;
};

Sha256::Sha256() : m_pContext(std::make_unique<Context>()) {
    m_pContext->ctx = EVP_MD_CTX_new();
    if (m_pContext->ctx && (!Sha256Algorithm() ||
                            EVP_DigestInit_ex2(m_pContext->ctx, Sha256Algorithm(), nullptr) != 1)) {
        EVP_MD_CTX_free(m_pContext->ctx);
        m_pContext->ctx = nullptr;
    }
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(m_pContext->ctx);
}

void Sha256::Update(const uint8_t* data, size_t size) {
    if (m_pContext->ctx && size) EVP_DigestUpdate(m_pContext->ctx, data, size);
}

std::string Sha256::FinalHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_pContext->ctx || EVP_DigestFinal_ex(m_pContext->ctx, digest, &length) != 1) return {};
    static const char kHex[] = "0123456789abcdef";
    std::string hex(size_t(length) * 2, '0');
    for (unsigned i = 0; i < length; ++i) {
        hex[2 * i] = kHex[digest[i] >> 4];
        hex[2 * i + 1] = kHex[digest[i] & 15];
    }
    // Ready for the next message.
    EVP_DigestInit_ex2(m_pContext->ctx, Sha256Algorithm(), nullptr);
    return hex;
}

std::string Sha256Hex(ByteView bytes) {
    // One context per thread, used again for every picture.
    thread_local Sha256 sha;
    sha.Update(bytes);
    return sha.FinalHex();
}

bool HashFile(const std::string& path, std::string& hex, uint64_t& size, std::string& error,
              uint64_t offset, std::optional<uint64_t> length, const std::atomic<bool>* stop) {
    const int fd = OpenReadOnly(path);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> buffer(
        length ? std::max<size_t>(1, size_t(std::min<uint64_t>(*length, kHashReadBytes)))
               : kHashReadBytes);
    Sha256 sha;
    size = 0;
    uint64_t position = offset;
    bool ok = true;
    for (;;) {
        size_t want = buffer.size();
        if (length) {
            if (size >= *length) break;
            want = size_t(std::min<uint64_t>(want, *length - size));
        }
        if (stop && stop->load()) {
            error = "hashing " + path + " was abandoned";
            ok = false;
            break;
        }
        const ssize_t got = ::pread(fd, buffer.data(), want, off_t(position));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            ok = false;
            break;
        }
        if (got == 0) {
            if (length) {
                error = path + " ends before byte " + std::to_string(offset + *length);
                ok = false;
            }
            break;
        }
        sha.Update(buffer.data(), size_t(got));
        size += uint64_t(got);
        position += uint64_t(got);
    }
    ::close(fd);
    if (ok) hex = sha.FinalHex();
    return ok;
}

bool ForEachNal(ByteView bytes, NalFraming framing, int lengthSize,
                const std::function<void(ByteView)>& each) {
    const uint8_t* p = bytes.data();
    const size_t n = bytes.size();
    if (framing == NalFraming::kLengthPrefixed) {
        if (lengthSize < 1 || lengthSize > 4) return false;
        for (size_t at = 0; at < n;) {
            if (n - at < size_t(lengthSize)) return false;
            uint64_t unit = 0;
            for (int i = 0; i < lengthSize; ++i)
                unit = (unit << 8) | p[at + size_t(i)];
            at += size_t(lengthSize);
            if (unit > n - at) return false;
            // Annex-B cannot tell a unit's final zero bytes from padding, so
            // neither framing keeps them.
            size_t end = at + size_t(unit);
            while (end > at && p[end - 1] == 0)
                --end;
            if (end > at) each(ByteView(p + at, end - at));
            at += size_t(unit);
        }
        return true;
    }
    // The start of each unit: just after a 00 00 01.
    size_t unitStart = 0;
    bool inUnit = false;
    auto emit = [&](size_t end) {
        // Zero bytes before a start code are padding or a 4-byte code's first byte.
        while (end > unitStart && p[end - 1] == 0)
            --end;
        if (end > unitStart) each(ByteView(p + unitStart, end - unitStart));
    };
    // Start codes are found from their 01 byte, which memchr finds quickly.
    for (size_t i = 2; i < n;) {
        const void* one = std::memchr(p + i, 1, n - i);
        if (!one) break;
        const size_t at = size_t(static_cast<const uint8_t*>(one) - p);
        if (at - 2 >= (inUnit ? unitStart : 0) && p[at - 1] == 0 && p[at - 2] == 0) {
            const size_t code = at - 2;
            if (inUnit || code > 0) emit(code);
            unitStart = at + 1;
            inUnit = true;
            i = at + 3;
        } else {
            i = at + 1;
        }
    }
    emit(n);
    return true;
}

std::optional<std::vector<uint8_t>> CanonicalNals(ByteView bytes, NalFraming framing,
                                                  int lengthSize) {
    std::vector<uint8_t> out;
    out.reserve(bytes.size() + 16);
    const bool ok = ForEachNal(bytes, framing, lengthSize, [&](ByteView unit) {
        out.insert(out.end(), kStartCode, kStartCode + 4);
        out.insert(out.end(), unit.data(), unit.data() + unit.size());
    });
    if (!ok) return std::nullopt;
    return out;
}

std::optional<std::string> CanonicalNalSha256(ByteView bytes, NalFraming framing, int lengthSize) {
    thread_local Sha256 sha;
    const bool ok = ForEachNal(bytes, framing, lengthSize, [&](ByteView unit) {
        sha.Update(kStartCode, sizeof kStartCode);
        sha.Update(unit);
    });
    if (!ok) {
        sha.FinalHex(); // leaves the context ready for the next picture
        return std::nullopt;
    }
    return sha.FinalHex();
}

bool IsCanonicalAnnexB(ByteView bytes) {
    const uint8_t* const base = bytes.data();
    const uint8_t* expected = base; // where the next start code must begin
    bool canonical = true;
    ForEachNal(bytes, NalFraming::kAnnexB, 4, [&](ByteView unit) {
        canonical = canonical && unit.data() == expected + sizeof kStartCode &&
                    std::memcmp(expected, kStartCode, sizeof kStartCode) == 0;
        expected = unit.data() + unit.size();
    });
    return canonical && expected != base && expected == base + bytes.size();
}

std::string DefaultManifestPath(const std::string& output, bool outputIsFolder) {
    if (!outputIsFolder) return output + ".manifest.json";
    std::string folder = output;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder + "/manifest.json";
}

void ManifestBuilder::SetTool(const std::string& name, const std::string& version,
                              const std::string& command, std::vector<std::string> commandLine) {
    m_tool = name;
    m_version = version;
    m_command = command;
    m_commandLine = std::move(commandLine);
    m_created = UtcNowIso8601();
}

void ManifestBuilder::SetSource(const std::string& path, const std::string& kind) {
    m_sourcePath = path;
    m_sourceKind = kind;
}

void ManifestBuilder::AddPicture(int channel, const ExportFrame& frame) {
    const ByteView bytes = frame.Video();
    const size_t length = bytes.size();
    Picture picture;
    picture.time = ToStoredMs(frame.seconds, frame.subsecond / 1000);
    picture.key = frame.key;
    picture.size = uint32_t(length);
    picture.sha256 = Sha256Hex(bytes);
    // Most recorders already store every unit behind a 4-byte start code:
    // then the canonical form is the stored bytes, and hashing them again
    // would double the export's hashing.
    picture.nalSha256 = IsCanonicalAnnexB(bytes)
                            ? picture.sha256
                            : CanonicalNalSha256(bytes, NalFraming::kAnnexB).value_or("");
    m_pending[channel].push_back(std::move(picture));
}

void ManifestBuilder::AddSourceRead(uint64_t offset, ByteView bytes) {
    m_sourcePieces.try_emplace({offset, bytes.size()}, Sha256Hex(bytes));
}

void ManifestBuilder::FinishOutput(const std::string& path, int channel, const std::string& format,
                                   uint64_t damagedSkipped) {
    Output output;
    output.path = path;
    output.channel = channel;
    output.format = format;
    uint64_t& before = m_damagedSoFar[channel];
    output.damaged = damagedSkipped >= before ? damagedSkipped - before : 0;
    before = std::max(before, damagedSkipped);
    auto pending = m_pending.find(channel);
    if (pending != m_pending.end()) {
        output.pictures = std::move(pending->second);
        m_pending.erase(pending);
    }
    // Cameras written side by side finish in any order; the manifest lists
    // them by camera (a camera's numbered files stay in the order written),
    // so that one export always reads the same.
    const auto at =
        std::upper_bound(m_outputs.begin(), m_outputs.end(), channel,
                         [](int c, const Output& o) { return o.channel >= 0 && c < o.channel; });
    m_outputs.insert(at, std::move(output));
}

void ManifestBuilder::AddFile(const std::string& path, const std::string& format) {
    Output output;
    output.path = path;
    output.format = format;
    m_outputs.push_back(std::move(output));
}

bool ManifestBuilder::HashOutputs(const std::function<std::string(const std::string&)>& writtenAt,
                                  std::string& error) {
    if (m_outputs.empty()) return true;
    std::vector<std::string> at;
    for (const Output& output : m_outputs)
        at.push_back(writtenAt ? writtenAt(output.path) : output.path);
    // The files are hashed side by side: hashing, not reading, is the limit.
    std::vector<std::string> errors(m_outputs.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < m_outputs.size();)
            HashFile(at[i], m_outputs[i].sha256, m_outputs[i].size, errors[i]);
    };
    const size_t helpers =
        std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), m_outputs.size()) - 1;
    std::vector<std::thread> threads;
    for (size_t t = 0; t < helpers; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& thread : threads)
        thread.join();
    for (const std::string& e : errors)
        if (!e.empty()) {
            error = e;
            return false;
        }
    return true;
}

bool ManifestBuilder::ChooseSourceHash(bool whole, std::string& error, uint64_t wholeLimit) {
    struct stat st {};
    if (::stat(m_sourcePath.c_str(), &st) != 0) {
        error = "cannot open " + m_sourcePath + ": " + std::strerror(errno);
        return false;
    }
    uint64_t size = uint64_t(st.st_size);
    if (S_ISBLK(st.st_mode)) {
        // A device's size is where its end is.
        const int fd = OpenReadOnly(m_sourcePath);
        if (fd >= 0) {
            const off_t end = ::lseek(fd, 0, SEEK_END);
            if (end > 0) size = uint64_t(end);
            ::close(fd);
        }
    }
    m_sourceSize = size;
    m_bWholeSource =
        whole || m_sourceKind != "disk" || (!S_ISBLK(st.st_mode) && size <= wholeLimit);
    return true;
}

bool ManifestBuilder::HashSource(std::string& error, const std::atomic<bool>* stop) {
    if (!m_bWholeSource) return true;
    uint64_t hashed = 0;
    if (!HashFile(m_sourcePath, m_sourceSha256, hashed, error, 0, std::nullopt, stop)) return false;
    m_sourceSize = hashed;
    return true;
}

ManifestJson ManifestBuilder::TimeJson(StoredMs t) const {
    ManifestJson j;
    j["time"] = t / 1000;
    j["ms"] = t % 1000;
    j["clock"] = FormatClock(m_clock, t);
    return j;
}

ManifestJson ManifestBuilder::ToJson(const std::string& manifestPath) const {
    ManifestJson j;
    j["manifest"] = 1;
    j["tool"] = m_tool;
    j["version"] = m_version;
    j["command"] = m_command;
    j["command_line"] = m_commandLine;
    j["created"] = m_created;
    j["clock"] = m_clock.utc ? "utc" : "player";
    j["time_offset"] = m_clock.offsetSeconds;
    j["hashes"] = {
        {"sha256", "SHA-256 of the bytes exactly as written (a file, a source piece) or, for "
                   "a picture, of its video bytes as the recording stored them"},
        {"nal_sha256", "SHA-256 of a picture's H.264 NAL units each behind a 4-byte start code "
                       "(00 00 00 01), whatever framing the container uses"},
    };

    ManifestJson source;
    source["path"] = m_sourcePath.empty()
                         ? std::string()
                         : std::filesystem::absolute(m_sourcePath).lexically_normal().string();
    source["kind"] = m_sourceKind;
    source["size"] = m_sourceSize;
    source["hash"] = m_bWholeSource ? "whole" : "pieces_read";
    if (m_nRecoveredBlocks) {
        source["index"] = "damaged: read through a scan for its blocks";
        source["recovered_blocks"] = m_nRecoveredBlocks;
    }
    if (m_bWholeSource) {
        source["sha256"] = m_sourceSha256;
    } else {
        ManifestJson pieces = ManifestJson::array();
        for (const auto& [where, sha] : m_sourcePieces)
            pieces.push_back({{"offset", where.first}, {"length", where.second}, {"sha256", sha}});
        source["pieces"] = std::move(pieces);
    }
    j["source"] = std::move(source);

    ManifestJson outputs = ManifestJson::array();
    for (const Output& output : m_outputs) {
        ManifestJson o;
        o["path"] = NameFromManifest(output.path, manifestPath);
        o["camera"] = output.channel >= 0 ? ManifestJson(output.channel + 1) : ManifestJson();
        o["format"] = output.format;
        o["size"] = output.size;
        o["sha256"] = output.sha256;
        if (output.channel >= 0) {
            o["frames"] = output.pictures.size();
            const auto& p = output.pictures;
            o["first"] = p.empty() ? ManifestJson() : TimeJson(p.front().time);
            o["last"] = p.empty() ? ManifestJson() : TimeJson(p.back().time);
            uint64_t gaps = 0;
            StoredMs gapMs = 0;
            for (size_t i = 1; i < p.size(); ++i)
                if (p[i].time - p[i - 1].time > kGapMs) {
                    ++gaps;
                    gapMs += p[i].time - p[i - 1].time;
                }
            o["gaps"] = {{"count", gaps}, {"seconds", double(gapMs) / 1000.0}};
            o["damaged_skipped"] = output.damaged;
            ManifestJson pictures = ManifestJson::array();
            for (const Picture& picture : p) {
                ManifestJson e;
                e["time"] = FormatClock(m_clock, picture.time);
                e["stored_ms"] = picture.time;
                e["key"] = picture.key;
                e["size"] = picture.size;
                e["sha256"] = picture.sha256;
                e["nal_sha256"] = picture.nalSha256;
                pictures.push_back(std::move(e));
            }
            o["pictures"] = std::move(pictures);
        }
        outputs.push_back(std::move(o));
    }
    j["outputs"] = std::move(outputs);
    return j;
}

bool ManifestBuilder::Write(OutputFiles& outputs, const std::string& path,
                            std::string& error) const {
    const std::string text =
        ToJson(path).dump(1, ' ', false, ManifestJson::error_handler_t::replace) + "\n";
    FILE* file = outputs.Create(path, error);
    if (!file) {
        if (error.empty()) error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (written && closed) return true;
    error = "writing " + path + " failed";
    return false;
}

} // namespace qm
