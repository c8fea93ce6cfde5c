// qmtool verify: checks an export against the manifest written beside it.
// Every output is hashed again, its pictures are read back through
// libavformat (a demuxer that is not ours) and compared with the manifest's
// per-picture hashes, those are compared with the frames read again from
// the source, and the source is hashed again as the manifest recorded it.
// One line per file, "ok PATH" or "FAILED PATH: what differs"; exit 0 only
// when everything matches.

#include "export/manifest.h"
#include "export/mux_library.h"
#include "export/source_frames.h"
#include "tools/qmtool/commands.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace qmtool {

namespace {

using Json = qm::ManifestJson;

struct Picture {
    std::string time; // as the export printed it
    int64_t storedMs = 0;
    bool key = false;
    uint64_t size = 0;
    std::string sha256, nalSha256;
};

struct Output {
    std::string path;     // as recorded
    std::string resolved; // where to find it now
    int camera = 0;       // 0: no pictures (a sound file)
    std::string format;
    uint64_t size = 0;
    std::string sha256;
    std::vector<Picture> pictures;
    std::vector<std::string> faults;
};

struct Piece {
    uint64_t offset = 0, length = 0;
    std::string sha256;
};

struct Manifest {
    std::string sourcePath;
    bool wholeSource = true;
    uint64_t sourceSize = 0;
    std::string sourceSha256;
    std::vector<Piece> pieces;
    std::vector<Output> outputs;
};

std::string Hex(const Json& j) {
    const std::string s = j.get<std::string>();
    if (s.size() != 64 || s.find_first_not_of("0123456789abcdef") != std::string::npos)
        throw std::runtime_error("a SHA-256 is not 64 hex digits");
    return s;
}

// Reads what verify needs, checking every field's type; throws with a short
// reason on anything else.
Manifest ParseManifest(const Json& j, const std::string& folder) {
    Manifest m;
    if (!j.is_object() || !j.contains("outputs") || !j.contains("source"))
        throw std::runtime_error("no outputs or source");
    const Json& source = j.at("source");
    m.sourcePath = source.at("path").get<std::string>();
    const std::string hash = source.at("hash").get<std::string>();
    m.wholeSource = hash == "whole";
    if (!m.wholeSource && hash != "pieces_read")
        throw std::runtime_error("unknown source hash \"" + hash + "\"");
    m.sourceSize = source.at("size").get<uint64_t>();
    if (m.wholeSource) {
        m.sourceSha256 = Hex(source.at("sha256"));
    } else {
        for (const Json& p : source.at("pieces"))
            m.pieces.push_back({p.at("offset").get<uint64_t>(), p.at("length").get<uint64_t>(),
                                Hex(p.at("sha256"))});
    }
    for (const Json& o : j.at("outputs")) {
        Output out;
        out.path = o.at("path").get<std::string>();
        if (out.path.empty()) throw std::runtime_error("an output without a path");
        const std::filesystem::path p(out.path);
        out.resolved = p.is_absolute() || folder.empty()
                           ? out.path
                           : (std::filesystem::path(folder) / p).string();
        out.camera = o.at("camera").is_null() ? 0 : o.at("camera").get<int>();
        if (out.camera < 0 || out.camera > 32) throw std::runtime_error("a camera out of range");
        out.format = o.at("format").get<std::string>();
        out.size = o.at("size").get<uint64_t>();
        out.sha256 = Hex(o.at("sha256"));
        if (out.camera)
            for (const Json& e : o.at("pictures")) {
                Picture picture;
                picture.time = e.at("time").get<std::string>();
                picture.storedMs = e.at("stored_ms").get<int64_t>();
                picture.key = e.at("key").get<bool>();
                picture.size = e.at("size").get<uint64_t>();
                picture.sha256 = Hex(e.at("sha256"));
                picture.nalSha256 = e.at("nal_sha256").get<std::string>();
                out.pictures.push_back(std::move(picture));
            }
        m.outputs.push_back(std::move(out));
    }
    return m;
}

std::string PictureText(size_t n, const Picture& p) {
    return "picture " + std::to_string(n + 1) + " at " + p.time;
}

// The hashes of the video packets of `path`, in file order.
struct Packet {
    uint64_t size = 0;
    std::string sha256;
    std::string unpaddedSha256; // without a final zero byte, when there is one
    std::string nalSha256;
};
bool DemuxPictures(const std::string& path, std::vector<Packet>& packets, std::string& error) {
    AVFormatContext* ic = qm::Mux().avformat_alloc_context();
    if (!ic) {
        error = "out of memory";
        return false;
    }
    // The packets exactly as stored: no parser may split or join them.
    ic->flags |= AVFMT_FLAG_NOPARSE | AVFMT_FLAG_NOFILLIN;
    if (qm::Mux().avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) {
        error = "libavformat cannot read it";
        return false; // avformat_open_input frees the context on failure
    }
    int stream = -1;
    for (unsigned i = 0; i < ic->nb_streams; ++i)
        if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            stream = int(i);
            break;
        }
    bool ok = stream >= 0;
    if (!ok) error = "no video stream";
    // An avcC record (version 1) in the stream's extra data means length
    // prefixes, of (its fifth byte & 3) + 1 bytes.
    qm::NalFraming framing = qm::NalFraming::kAnnexB;
    int lengthSize = 4;
    if (ok) {
        const AVCodecParameters* par = ic->streams[stream]->codecpar;
        if (par->codec_id == AV_CODEC_ID_H264 && par->extradata && par->extradata_size >= 7 &&
            par->extradata[0] == 1) {
            framing = qm::NalFraming::kLengthPrefixed;
            lengthSize = (par->extradata[4] & 3) + 1;
        }
    }
    AVPacket* packet = qm::Mux().av_packet_alloc();
    while (ok && packet) {
        const int r = qm::Mux().av_read_frame(ic, packet);
        if (r == AVERROR_EOF) break;
        if (r < 0) {
            error = "libavformat stops reading it after " + std::to_string(packets.size()) +
                    " pictures";
            ok = false;
            break;
        }
        if (packet->stream_index == stream) {
            const qm::ByteView bytes(packet->data, size_t(packet->size));
            Packet p;
            p.size = bytes.size();
            p.sha256 = qm::Sha256Hex(bytes);
            if (p.size && bytes.data()[p.size - 1] == 0)
                p.unpaddedSha256 = qm::Sha256Hex(qm::ByteView(bytes.data(), p.size - 1));
            p.nalSha256 = qm::CanonicalNalSha256(bytes, framing, lengthSize).value_or("");
            packets.push_back(std::move(p));
        }
        qm::Mux().av_packet_unref(packet);
    }
    qm::Mux().av_packet_free(&packet);
    qm::Mux().avformat_close_input(&ic);
    return ok;
}

void CheckOutputFile(Output& out) {
    std::string sha, error;
    uint64_t size = 0;
    if (!qm::HashFile(out.resolved, sha, size, error)) {
        out.faults.push_back(error);
        return;
    }
    if (size != out.size)
        out.faults.push_back("size " + std::to_string(size) + ", the manifest says " +
                             std::to_string(out.size));
    else if (sha != out.sha256)
        out.faults.push_back("SHA-256 differs");
    if (!out.camera) return;

    std::vector<Packet> packets;
    if (!DemuxPictures(out.resolved, packets, error)) {
        out.faults.push_back(error);
        return;
    }
    size_t differing = 0;
    std::string firstDiffering;
    for (size_t i = 0; i < std::min(packets.size(), out.pictures.size()); ++i) {
        const Picture& p = out.pictures[i];
        // A container that kept the stored bytes matches the first hash; one
        // that reframed the units matches the second. An AVI chunk's size
        // counts the byte that pads it to an even length, so a demuxer hands
        // that byte over with the picture.
        const Packet& k = packets[i];
        const bool same = k.sha256 == p.sha256 ||
                          (k.size == p.size + 1 && k.unpaddedSha256 == p.sha256) ||
                          (!p.nalSha256.empty() && k.nalSha256 == p.nalSha256);
        if (!same && !differing++) firstDiffering = PictureText(i, p);
    }
    if (differing)
        out.faults.push_back(
            firstDiffering + " differs" +
            (differing > 1 ? " (and " + std::to_string(differing - 1) + " more)" : std::string()));
    if (packets.size() != out.pictures.size())
        out.faults.push_back(std::to_string(packets.size()) + " pictures, the manifest lists " +
                             std::to_string(out.pictures.size()));
}

// Compares each camera's pictures, in the order the manifest lists them,
// with that camera's frames read again from the source; a fault is told on
// the output that holds the picture.
void CheckAgainstSource(Manifest& m, const std::string& sourcePath) {
    std::map<int, std::vector<std::pair<Output*, size_t>>> byCamera;
    for (Output& out : m.outputs)
        for (size_t i = 0; i < out.pictures.size(); ++i)
            byCamera[out.camera].push_back({&out, i});
    for (auto& [camera, pictures] : byCamera) {
        int64_t first = pictures.front().first->pictures[pictures.front().second].storedMs;
        int64_t last = first;
        for (const auto& [out, i] : pictures) {
            first = std::min(first, out->pictures[i].storedMs);
            last = std::max(last, out->pictures[i].storedMs);
        }
        std::vector<std::pair<int64_t, std::string>> frames;
        std::string error;
        const bool read = qm::ReadSourceFrames(
            sourcePath, camera - 1, first, last,
            [&](const qm::ExportFrame& f) {
                frames.push_back(
                    {qm::ToStoredMs(f.seconds, f.subsecond / 1000), qm::Sha256Hex(f.Video())});
            },
            error);
        if (!read) {
            for (Output& out : m.outputs)
                if (out.camera == camera)
                    out.faults.push_back("camera " + std::to_string(camera) +
                                         " cannot be read from the source: " + error);
            continue;
        }
        // Walk both in order: a picture must be a frame at its time, and
        // the export may have left frames out (before a segment's key frame).
        std::map<Output*, size_t> differing;
        std::map<Output*, std::string> firstText;
        size_t at = 0;
        for (const auto& [out, i] : pictures) {
            const Picture& p = out->pictures[i];
            while (at < frames.size() && frames[at].first < p.storedMs)
                ++at;
            bool found = false;
            for (size_t k = at; k < frames.size() && frames[k].first == p.storedMs; ++k)
                if (frames[k].second == p.sha256) {
                    found = true;
                    at = k + 1;
                    break;
                }
            if (!found && !differing[out]++)
                firstText[out] =
                    PictureText(i, p) + (at < frames.size() && frames[at].first == p.storedMs
                                             ? " differs from the source"
                                             : " is not in the source");
        }
        for (auto& [out, count] : differing)
            if (count)
                out->faults.push_back(
                    firstText[out] +
                    (count > 1 ? " (and " + std::to_string(count - 1) + " more)" : std::string()));
    }
}

std::vector<std::string> CheckSource(const Manifest& m, const std::string& path) {
    std::vector<std::string> faults;
    std::string sha, error;
    uint64_t size = 0;
    if (m.wholeSource) {
        if (!qm::HashFile(path, sha, size, error))
            faults.push_back(error);
        else if (size != m.sourceSize)
            faults.push_back("size " + std::to_string(size) + ", the manifest says " +
                             std::to_string(m.sourceSize));
        else if (sha != m.sourceSha256)
            faults.push_back("SHA-256 differs");
        return faults;
    }
    size_t differing = 0;
    for (const Piece& piece : m.pieces) {
        if (!qm::HashFile(path, sha, size, error, piece.offset, piece.length)) {
            faults.push_back(error);
            return faults;
        }
        if (sha != piece.sha256 && !differing++)
            faults.push_back("the " + std::to_string(piece.length) + " bytes read at byte " +
                             std::to_string(piece.offset) + " differ");
    }
    if (differing > 1) faults.back() += " (and " + std::to_string(differing - 1) + " more pieces)";
    return faults;
}

std::string Joined(const std::vector<std::string>& faults) {
    std::string text;
    for (const std::string& f : faults)
        text += (text.empty() ? "" : "; ") + f;
    return text;
}

} // namespace

int RunVerify(const ParsedArgs& args) {
    if (args.positionals.size() != 1) return UsageError("verify needs one MANIFEST");
    const std::string& manifestPath = args.positionals[0];
    std::ifstream in(manifestPath, std::ios::binary);
    if (!in) return Fail("cannot open " + manifestPath);
    std::stringstream text;
    text << in.rdbuf();
    Manifest m;
    try {
        const Json j = Json::parse(text.str());
        // Outputs are named from the manifest's folder, so the folder may move.
        m = ParseManifest(j, std::filesystem::path(manifestPath).parent_path().string());
    } catch (const std::exception& e) {
        return Fail(manifestPath + " is not an export manifest (" + e.what() + ")");
    }
    const std::string sourcePath = args.value("--source").value_or(m.sourcePath);

    if (!qm::MuxLibraryLoaded())
        return Fail("libavformat cannot be loaded: files cannot be read back");
    qm::Mux().av_log_set_level(AV_LOG_QUIET);
    for (Output& out : m.outputs)
        CheckOutputFile(out);
    CheckAgainstSource(m, sourcePath);
    const std::vector<std::string> sourceFaults = CheckSource(m, sourcePath);

    bool allOk = sourceFaults.empty();
    for (const Output& out : m.outputs) {
        allOk = allOk && out.faults.empty();
        if (out.faults.empty())
            std::printf("ok %s\n", out.resolved.c_str());
        else
            std::printf("FAILED %s: %s\n", out.resolved.c_str(), Joined(out.faults).c_str());
    }
    if (sourceFaults.empty())
        std::printf("ok %s\n", sourcePath.c_str());
    else
        std::printf("FAILED %s: %s\n", sourcePath.c_str(), Joined(sourceFaults).c_str());
    std::fflush(stdout);
    return allOk ? 0 : 1;
}

} // namespace qmtool
