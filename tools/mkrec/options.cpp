#include "tools/mkrec/options.h"

#include "storage/record_layout.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <set>

namespace qm::mkrec {
namespace {

constexpr uint64_t kMinBitrateKbps = 16;
constexpr uint64_t kMaxBitrateKbps = 200000;

bool parseUInt(std::string_view text, uint64_t& out, uint64_t max) {
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out <= max;
}

bool parseSize(std::string_view text, PictureSize& out) {
    size_t x = text.find('x');
    uint64_t w = 0, h = 0;
    if (x == std::string_view::npos || !parseUInt(text.substr(0, x), w, 65535) ||
        !parseUInt(text.substr(x + 1), h, 65535))
        return false;
    out = {int(w), int(h)};
    return true;
}

// "1-4,17" -> {0,1,2,3,16}
bool parseChannels(std::string_view text, std::vector<int>& out) {
    std::set<int> channels;
    while (!text.empty()) {
        size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        size_t dash = item.find('-');
        uint64_t first = 0, last = 0;
        if (dash == std::string_view::npos) {
            if (!parseUInt(item, first, 32)) return false;
            last = first;
        } else if (!parseUInt(item.substr(0, dash), first, 32) ||
                   !parseUInt(item.substr(dash + 1), last, 32)) {
            return false;
        }
        if (first < 1 || last < first) return false;
        for (uint64_t c = first; c <= last; ++c)
            channels.insert(int(c - 1));
    }
    out.assign(channels.begin(), channels.end());
    return !out.empty();
}

// "A:B" split at the first colon.
bool splitPair(std::string_view text, std::string_view& a, std::string_view& b) {
    size_t colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    a = text.substr(0, colon);
    b = text.substr(colon + 1);
    return true;
}

bool parseCodec(std::string_view text, VideoCodec& out) {
    for (VideoCodec c : {VideoCodec::H264, VideoCodec::HISI, VideoCodec::SOLO, VideoCodec::STCH,
                         VideoCodec::STHD, VideoCodec::MJPG}) {
        if (text == codecName(c)) {
            out = c;
            return true;
        }
    }
    return false;
}

// "4000", "4000k" (kbit/s) or "4M", "1.5M" (Mbit/s) -> kbit/s.
bool parseBitrate(std::string_view text, int& kbps) {
    uint64_t multiplier = 1; // kbit/s per unit
    if (!text.empty() && (text.back() == 'k' || text.back() == 'K')) {
        text.remove_suffix(1);
    } else if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) {
        multiplier = 1000;
        text.remove_suffix(1);
    }
    const size_t dot = text.find('.');
    uint64_t whole = 0, fraction = 0, scale = 1;
    if (!parseUInt(text.substr(0, dot), whole, kMaxBitrateKbps)) return false;
    if (dot != std::string_view::npos) {
        // Fractions of a Mbit/s down to a kbit/s.
        const std::string_view digits = text.substr(dot + 1);
        if (multiplier == 1 || digits.size() > 3 || !parseUInt(digits, fraction, 999)) return false;
        for (size_t i = 0; i < digits.size(); ++i)
            scale *= 10;
    }
    const uint64_t value = whole * multiplier + fraction * multiplier / scale;
    if (value < kMinBitrateKbps || value > kMaxBitrateKbps) return false;
    kbps = int(value);
    return true;
}

// The title is formatted with printf and one int: allow only %d (with flags and
// width) and %%, so a typo cannot read a missing argument.
bool titleFormatIsSafe(std::string_view f) {
    int conversions = 0;
    for (size_t i = 0; i < f.size(); ++i) {
        if (f[i] != '%') continue;
        if (++i < f.size() && f[i] == '%') continue;
        while (i < f.size() && (f[i] == '0' || f[i] == '-' || f[i] == ' ' || f[i] == '+'))
            ++i;
        while (i < f.size() && f[i] >= '0' && f[i] <= '9')
            ++i;
        if (i >= f.size() || f[i] != 'd') return false;
        ++conversions;
    }
    return conversions <= 1 && f.size() < 32;
}

} // namespace

const char* usageText() {
    return "usage: mkrec --out FILE [options]\n"
           "  --channels LIST        cameras 1-32, e.g. 1-4,17 (default 1)\n"
           "  --duration SECONDS     length of the recording (default 10)\n"
           "  --fps N                frames per second (default 25)\n"
           "  --gop N                key-frame interval in frames (default fps)\n"
           "  --size WxH | CAM:WxH   picture size of all cameras or of one (default 352x240)\n"
           "  --size-change SEC:WxH  all cameras change size SEC seconds after the start\n"
           "  --codec NAME           H264 HISI SOLO STCH STHD MJPG (default H264)\n"
           "  --byte-order 1|0       1 little-endian (default), 0 big-endian\n"
           "  --block-size BYTES     block size, a multiple of 512 (default 2097152)\n"
           "  --gap FROM:TO          no frames from FROM to TO seconds (repeatable)\n"
           "  --audio CAM:TYPE       1 kHz tone on a camera, type 2 (ADPCM) or 5 (G.711)\n"
           "  --titles FORMAT        camera title, printf style (default \"CAM %d\")\n"
           "  --tz BYTE              frame time-zone byte (default 24 = UTC)\n"
           "  --time-offset BYTE     archive display offset in 1800 s units (default 0)\n"
           "  --start UNIXTIME       time of the first frame (default 1700000000)\n"
           "  --quality N            codec quality (x264 CRF, else qscale); 0 = default\n"
           "  --content KIND         what the pictures show, both with the frame stamp and\n"
           "                         caption: pattern (default), smooth ramps and a square\n"
           "                         that code cheaply; camera, a textured scene with sensor\n"
           "                         noise, moving objects and slow light changes, coded by\n"
           "                         the H.264 codecs as a recorder does (Main profile,\n"
           "                         CABAC, rate-controlled to --bitrate)\n"
           "  --bitrate RATE         camera content, H.264 codecs: kbit/s as 4000 or 4000k,\n"
           "                         or Mbit/s as 4M or 1.5M (default 1M up to 704x576, 4M\n"
           "                         at 1920x1080, by pixel count in between); everything\n"
           "                         else is coded at constant quality (--quality)\n"
           "disk images (a DVR's disk or card as the player reads it raw):\n"
           "  --disk-image           write a disk image instead of an archive\n"
           "  --card                 a memory card: the information sector at sector 0x12001\n"
           "  --ring-slots N         block slots in the ring (default: the blocks, the stale\n"
           "                         blocks and 2 more); with fewer slots than blocks the\n"
           "                         oldest are overwritten\n"
           "  --ring-start SLOT      slot of the first block (default 0)\n"
           "  --wrap                 start the ring so that it wraps past its last slot\n"
           "  --first-sequence N     sequence number of the first block (default 1)\n"
           "  --invalid-slots N      give N unused slots entries the player must refuse\n"
           "damaged sources (done to the written file; the cut comes last):\n"
           "  --cut-at BYTES         the file ends at byte BYTES (at most its full size)\n"
           "  --zero-header          archive: zero its header, the file's last 512 bytes\n"
           "  --zero-mini-table      archive: zero the mini header table its header points to\n"
           "  --zero-block-tables N  archive: zero both frame tables of block N (0 = first),\n"
           "                         leaving its header's frame counts as they are\n"
           "  --zero-mhs             disk image: zero the MHS its information sector points to\n"
           "  --stale-blocks N       disk image: N whole blocks of an earlier recording, ended\n"
           "                         before this one's start, in the slots after its blocks,\n"
           "                         not listed in the MHS\n";
}

std::optional<ParsedOptions> parseOptions(const std::vector<std::string>& args,
                                          std::string& error) {
    ParsedOptions out;
    RecordingPlan& plan = out.plan;
    plan.channels = {0};
    DiskImageOptions disk;
    bool diskImage = false;
    std::string diskOnly; // a disk option given, for the check below
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            out.help = true;
            return out;
        }
        if (name == "--zero-header" || name == "--zero-mini-table" || name == "--zero-mhs") {
            if (name == "--zero-header") plan.damage.zeroHeader = true;
            if (name == "--zero-mini-table") plan.damage.zeroMiniTable = true;
            if (name == "--zero-mhs") plan.damage.zeroMhs = true;
            continue;
        }
        if (name == "--disk-image" || name == "--card" || name == "--wrap") {
            if (name == "--disk-image") diskImage = true;
            if (name == "--card") disk.card = true;
            if (name == "--wrap") disk.wrap = true;
            if (name != "--disk-image") diskOnly = name;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = name.rfind("--", 0) == 0 ? "missing value for " + name
                                             : "unexpected argument " + name;
            return std::nullopt;
        }
        std::string_view value = args[++i];
        std::string_view a, b;
        uint64_t n = 0, m = 0;
        bool ok = true;
        if (name == "--out") {
            out.outPath = value;
        } else if (name == "--channels") {
            ok = parseChannels(value, plan.channels);
        } else if (name == "--duration") {
            ok = parseUInt(value, n, 86400 * 7) && n > 0;
            plan.durationSeconds = uint32_t(n);
        } else if (name == "--fps") {
            ok = parseUInt(value, n, 1000) && n > 0;
            plan.fps = int(n);
        } else if (name == "--gop") {
            ok = parseUInt(value, n, 100000) && n > 0;
            plan.gop = int(n);
        } else if (name == "--size") {
            PictureSize size;
            if (splitPair(value, a, b)) {
                ok = parseUInt(a, n, 32) && n >= 1 && parseSize(b, size);
                if (ok) plan.channelSizes[int(n - 1)] = size;
            } else {
                ok = parseSize(value, size);
                plan.defaultSize = size;
            }
        } else if (name == "--size-change") {
            SizeChange change;
            ok = splitPair(value, a, b) && parseUInt(a, n, 0xFFFFFFFF) && parseSize(b, change.size);
            change.atSecond = uint32_t(n);
            plan.sizeChanges.push_back(change);
        } else if (name == "--codec") {
            ok = parseCodec(value, plan.codec);
        } else if (name == "--byte-order") {
            ok = value == "0" || value == "1";
            plan.byteOrder = value == "0" ? 0 : 1;
        } else if (name == "--block-size") {
            ok = parseUInt(value, n, 1u << 30);
            plan.blockSize = uint32_t(n);
        } else if (name == "--gap") {
            ok = splitPair(value, a, b) && parseUInt(a, n, 0xFFFFFFFF) &&
                 parseUInt(b, m, 0xFFFFFFFF) && m > n;
            plan.gaps.push_back({uint32_t(n), uint32_t(m)});
        } else if (name == "--audio") {
            ok = splitPair(value, a, b) && parseUInt(a, n, 32) && n >= 1 && parseUInt(b, m, 15) &&
                 (m == kAudioTypeHisiAdpcm || m == kAudioTypeG711);
            if (ok) plan.audio[int(n - 1)] = uint8_t(m);
        } else if (name == "--titles") {
            ok = titleFormatIsSafe(value);
            plan.titleFormat = value;
        } else if (name == "--tz") {
            ok = parseUInt(value, n, 255);
            plan.timeZone = uint8_t(n);
        } else if (name == "--time-offset") {
            ok = parseUInt(value, n, 255);
            plan.timeOffset = uint8_t(n);
        } else if (name == "--start") {
            ok = parseUInt(value, n, 0xFFFFFFFF);
            plan.start = uint32_t(n);
        } else if (name == "--quality") {
            ok = parseUInt(value, n, 51);
            plan.quality = int(n);
        } else if (name == "--content") {
            if (value != "pattern" && value != "camera") {
                error = "bad value for --content: " + std::string(value) + " (pattern or camera)";
                return std::nullopt;
            }
            plan.content = value == "camera" ? PictureContent::Camera : PictureContent::Pattern;
        } else if (name == "--bitrate") {
            if (!parseBitrate(value, plan.bitrateKbps)) {
                error = "bad value for --bitrate: " + std::string(value) + " (" +
                        std::to_string(kMinBitrateKbps) + " to " + std::to_string(kMaxBitrateKbps) +
                        " kbit/s, as 4000, 4000k, 4M or 1.5M)";
                return std::nullopt;
            }
        } else if (name == "--ring-slots") {
            ok = parseUInt(value, n, 1u << 24) && n > 0;
            disk.ringSlots = uint32_t(n);
            diskOnly = name;
        } else if (name == "--ring-start") {
            ok = parseUInt(value, n, (1u << 24) - 1);
            disk.ringStart = uint32_t(n);
            diskOnly = name;
        } else if (name == "--first-sequence") {
            ok = parseUInt(value, n, 0xFFFFFFFF);
            disk.firstSequence = uint32_t(n);
            diskOnly = name;
        } else if (name == "--invalid-slots") {
            ok = parseUInt(value, n, 1u << 24);
            disk.invalidSlots = uint32_t(n);
            diskOnly = name;
        } else if (name == "--cut-at") {
            ok = parseUInt(value, n, std::numeric_limits<uint64_t>::max());
            plan.damage.cutAt = n;
        } else if (name == "--zero-block-tables") {
            ok = parseUInt(value, n, 0xFFFFFFFF);
            plan.damage.zeroBlockTables = uint32_t(n);
        } else if (name == "--stale-blocks") {
            ok = parseUInt(value, n, 1u << 24) && n > 0;
            plan.damage.staleBlocks = uint32_t(n);
        } else {
            error = "unknown option " + name;
            return std::nullopt;
        }
        if (!ok) {
            error = "bad value for " + name + ": " + std::string(value);
            return std::nullopt;
        }
    }
    if (out.outPath.empty()) {
        error = "--out FILE is required";
        return std::nullopt;
    }
    if (plan.bitrateKbps && plan.content != PictureContent::Camera) {
        error = "--bitrate needs --content camera; pattern content is coded at constant "
                "quality (--quality)";
        return std::nullopt;
    }
    if (plan.content == PictureContent::Camera && codedAsH264(plan.codec)) {
        if (plan.quality) {
            error = "--quality does not apply to camera content coded as H.264, which is "
                    "rate-controlled; give --bitrate";
            return std::nullopt;
        }
    } else if (plan.bitrateKbps) {
        error = std::string("--bitrate applies to the H.264 codecs; ") + codecName(plan.codec) +
                " is coded at constant quality (--quality)";
        return std::nullopt;
    }
    if (!diskOnly.empty() && !diskImage) {
        error = diskOnly + " needs --disk-image";
        return std::nullopt;
    }
    if (!damageFitsOutput(plan.damage, diskImage, error)) return std::nullopt;
    if (disk.wrap && disk.ringStart) {
        error = "--wrap and --ring-start choose the same thing; give one";
        return std::nullopt;
    }
    if (disk.ringSlots && disk.ringStart && *disk.ringStart >= disk.ringSlots) {
        error = "--ring-start must name one of the --ring-slots";
        return std::nullopt;
    }
    if (diskImage) {
        // Disk firmware records no Motion JPEG and keeps no display offset.
        if (plan.codec == VideoCodec::MJPG) {
            error = "a disk image cannot hold Motion JPEG (--codec MJPG)";
            return std::nullopt;
        }
        if (plan.timeOffset != 0) {
            error = "--time-offset belongs to archives; a disk has none";
            return std::nullopt;
        }
        out.disk = disk;
    }
    std::sort(plan.sizeChanges.begin(), plan.sizeChanges.end(),
              [](const SizeChange& x, const SizeChange& y) { return x.atSecond < y.atSecond; });
    if (!validatePlan(plan, error)) return std::nullopt;
    return out;
}

bool validatePlan(const RecordingPlan& plan, std::string& error) {
    auto sizeOk = [&](PictureSize s) {
        // Width and height are stored in units of 8 pixels, 12 bits each.
        if (s.width < 16 || s.height < 16 || s.width % 8 || s.height % 8 || s.width > 4095 * 8 ||
            s.height > 4095 * 8) {
            error = "picture size " + std::to_string(s.width) + "x" + std::to_string(s.height) +
                    " must be multiples of 8, at least 16";
            return false;
        }
        return true;
    };
    if (plan.channels.empty()) {
        error = "no channels";
        return false;
    }
    if (!sizeOk(plan.defaultSize)) return false;
    for (auto& [ch, s] : plan.channelSizes)
        if (!sizeOk(s)) return false;
    for (auto& c : plan.sizeChanges)
        if (!sizeOk(c.size)) return false;
    for (auto& [ch, type] : plan.audio) {
        if (!std::binary_search(plan.channels.begin(), plan.channels.end(), ch)) {
            error = "--audio names camera " + std::to_string(ch + 1) + " which is not recorded";
            return false;
        }
    }
    if (plan.blockSize % kSectorSize || plan.blockSize < 8 * kSectorSize) {
        error = "--block-size must be a multiple of 512 and at least 4096";
        return false;
    }
    return true;
}

} // namespace qm::mkrec
