#!/usr/bin/env bash
# Side-by-side timings of qmtool and the player against FFmpeg and the I/O
# floor, on recordings made by mkrec, printed as one Markdown table.
#
#   bench/compare.sh [BUILD_DIR] [WORK_DIR]
#
# BUILD_DIR is a Release build configured with -DQM_BUILD_BENCH=ON (default:
# build-perf next to this folder); it is built here if a tool is missing.
# WORK_DIR keeps the generated recordings between runs (default:
# /tmp/qm_compare). Needs hyperfine, ffmpeg and python3.
#
# Data sets (lengths can be changed through the environment):
#   d1x16   16 cameras 704 x 480 H.264, D1_SECONDS (default 600; 1800 gives the 30 minutes
#           of the target, at about 1.1 GB and 15 CPU minutes of mkrec),
#           for export, opening and the player;
#   d1dec   16 cameras 704 x 480 of camera-like footage (mkrec --content camera, 1 Mbit/s)
#           for DEC_SECONDS (default 60), for decoding;
#   hd4     4 cameras 1920 x 1080 H.264: camera-like footage (4 Mbit/s) for
#           HD_SECONDS (default 60) for decoding, the pattern for
#           HDX_SECONDS (default 600, about 500 MB) for export, long enough that the
#           export measures reading and writing rather than starting a process;
#   mj4     4 cameras 704 x 480 Motion JPEG, MJ_SECONDS (default 60).
# RUNS (default 5) is the number of timed runs of each command, PLAYER_SECONDS
# (default 30) how long the player plays.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$here/build-perf}
work=${2:-/tmp/qm_compare}
runs=${RUNS:-5}
d1_seconds=${D1_SECONDS:-600}
dec_seconds=${DEC_SECONDS:-60}
hd_seconds=${HD_SECONDS:-60}
hdx_seconds=${HDX_SECONDS:-600}
mj_seconds=${MJ_SECONDS:-60}
player_seconds=${PLAYER_SECONDS:-30}

for tool in hyperfine ffmpeg python3; do
    command -v "$tool" >/dev/null || { echo "compare.sh needs $tool" >&2; exit 2; }
done
mkrec=$build/tools/mkrec/mkrec
qmtool=$build/tools/qmtool/qmtool
extract=$build/bench/qm_extract_streams
player=$build/bench/qm_player_bench
if ! [ -x "$mkrec" ] || ! [ -x "$qmtool" ] || ! [ -x "$extract" ] || ! [ -x "$player" ]; then
    [ -f "$build/build.ninja" ] ||
        cmake -G Ninja -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_BENCH=ON >&2
    cmake --build "$build" -j "${JOBS:-2}" --target mkrec qmtool qm_extract_streams \
        qm_player_bench >&2
fi
mkdir -p "$work"
json=$work/json
rm -rf "$json" "$work/out"
mkdir -p "$json" "$work/out"

# make NAME SECONDS mkrec-options...: a recording, made once.
make_set() {
    local name=$1 seconds=$2
    shift 2
    local file=$work/$name-${seconds}s.avr
    if ! [ -s "$file" ]; then
        echo "making $name ($seconds s)..." >&2
        "$mkrec" --out "$file.tmp" --duration "$seconds" --fps 25 "$@" >/dev/null
        mv "$file.tmp" "$file"
    fi
    echo "$file"
}
d1=$(make_set d1x16 "$d1_seconds" --channels 1-16 --size 704x480 --codec H264)
# The decoding sets are camera-like footage (texture, sensor noise, moving
# objects, coded at a recorder's bit rate): the synthetic pattern codes to
# little and decodes cheaply, which flatters any decoder.
d1dec=$(make_set d1cam16 "$dec_seconds" --channels 1-16 --size 704x480 --codec H264 \
    --content camera)
hd=$(make_set hdcam4 "$hd_seconds" --channels 1-4 --size 1920x1080 --codec H264 --content camera)
hdx=$(make_set hd4 "$hdx_seconds" --channels 1-4 --size 1920x1080 --codec H264)
mj=$(make_set mj4 "$mj_seconds" --channels 1-4 --size 704x480 --codec MJPG)

# The elementary streams as the storage reader delivers them: the ffmpeg side
# reads exactly the bytes qmtool decodes.
streams() { # ARCHIVE -> prints the prefix
    local prefix=${1%.avr}
    [ -s "$prefix-cam1.es" ] || "$extract" "$1" "$prefix" >&2
    echo "$prefix"
}

# One single-threaded ffmpeg process decodes every stream to bgr0 and drops it.
ffmpeg_decode() { # PREFIX FORMAT CAMERAS
    local prefix=$1 format=$2 cameras=$3 cmd="ffmpeg -v error -nostdin"
    for i in $(seq 1 "$cameras"); do cmd+=" -f $format -threads 1 -i $prefix-cam$i.es"; done
    for i in $(seq 1 "$cameras"); do cmd+=" -map $((i - 1)) -threads 1 -pix_fmt bgr0 -f null -"; done
    echo "$cmd"
}

# bench NAME COMMAND... : hyperfine over the commands, JSON kept under NAME.
bench() {
    local name=$1
    shift
    hyperfine -N --warmup 1 --runs "$runs" --export-json "$json/$name.json" "$@" >&2
}

echo "== decoding" >&2
p=$(streams "$d1dec")
bench decode_d1 "$qmtool decode $d1dec" "$(ffmpeg_decode "$p" h264 16)"
p=$(streams "$hd")
bench decode_hd "$qmtool decode $hd" "$(ffmpeg_decode "$p" h264 4)"
p=$(streams "$mj")
bench decode_mj "$qmtool decode $mj" "$(ffmpeg_decode "$p" mjpeg 4)"

echo "== export of camera 1" >&2
# The file of the run before is removed first (an export does not replace
# files without --force); the manifest, which hashes the whole source, has
# rows of its own below.
p=$(streams "$d1")
bench export_d1 --prepare "rm -f $work/out/qm.avi" \
    "$qmtool export --channel 1 --no-audio --no-manifest --out $work/out/qm.avi $d1" \
    "ffmpeg -v error -nostdin -y -f h264 -i $p-cam1.es -c copy $work/out/ff.avi" \
    "cat $d1"
p=$(streams "$hdx")
bench export_hd --prepare "rm -f $work/out/qmhd.avi" \
    "$qmtool export --channel 1 --no-audio --no-manifest --out $work/out/qmhd.avi $hdx" \
    "ffmpeg -v error -nostdin -y -f h264 -i $p-cam1.es -c copy $work/out/ffhd.avi" \
    "cat $hdx"

echo "== forensic export" >&2
p=$(streams "$d1")
# MP4 of one camera against ffmpeg's stream copy of the same elementary stream.
bench export_mp4 \
    "$qmtool export --channel 1 --no-audio --no-manifest --force --out $work/out/qm.mp4 $d1" \
    "ffmpeg -v error -nostdin -y -f h264 -i $p-cam1.es -c copy $work/out/ff.mp4"
# Every camera with its manifest against the floor: hashing and reading the archive.
bench export_all \
    --prepare "rm -rf $work/out/all" \
    "$qmtool export --channel all --format mp4 --out $work/out/all $d1" \
    "sh -c 'sha256sum $d1 >/dev/null && cat $d1 >/dev/null'"
# Verify of that export against hashing the archive and the outputs.
"$qmtool" export --channel all --format mp4 --force --out "$work/out/all" "$d1" >/dev/null 2>&1
bench verify_all \
    "$qmtool verify $work/out/all/manifest.json" \
    "sh -c 'sha256sum $d1 $work/out/all/*.mp4 >/dev/null'"

echo "== recovery scan" >&2
# The archive with its header zeroed: read through a scan for its blocks.
damaged=$work/out/noheader.avr
cp "$d1" "$damaged"
python3 -c "import sys; f = open(sys.argv[1], 'r+b'); f.seek(-512, 2); f.write(bytes(512))" "$damaged"
bench recover_d1 "$qmtool recover $damaged" "cat $damaged"

echo "== opening" >&2
blocks=$("$qmtool" info --json "$d1" | sed 's/.*"blocks":\[\([0-9]*\)\].*/\1/')
# The archive header and the mini header table are the file's last bytes.
index_bytes=$((blocks * 16 + 512))
# `qmtool --help` is what starting the program alone costs (it loads FFmpeg
# and Qt Core), a floor under every qmtool row.
bench info_d1 "$qmtool info $d1" "tail -c $index_bytes $d1" "$qmtool --help"

echo "== player, 16 cameras at 1x for $player_seconds s" >&2
uptime_before=$(uptime)
"$player" "$d1" 4 "$player_seconds" 25 | tee "$json/player.txt" >&2

python3 - "$json" "$d1" "$blocks" "$uptime_before" <<'PY'
import json, os, re, sys
folder, d1, blocks, load = sys.argv[1:5]

def results(name):
    return json.load(open(os.path.join(folder, name + ".json")))["results"]

def cpu(r):
    return r["user"] + r["system"]

print("| measurement | command | wall s (mean ± sd) | CPU s (user+sys) | CPU ratio | target |")
print("|---|---|---|---|---|---|")

def rows(name, labels, targets):
    r = results(name)
    base = r[1]
    for i, (x, label) in enumerate(zip(r, labels)):
        ratio = cpu(x) / cpu(base) if cpu(base) > 0 else float("nan")
        wall_ratio = x["mean"] / base["mean"]
        target = targets[i] if i < len(targets) else ""
        print(f"| {name} | {label} | {x['mean']:.3f} ± {x['stddev']:.3f} | {cpu(x):.3f} | "
              f"{ratio:.2f} (wall {wall_ratio:.2f}) | {target} |")

rows("decode_d1", ["qmtool decode, 16 x D1", "ffmpeg -threads 1 to bgr0"], ["≤ 1.15 x ffmpeg"])
rows("decode_hd", ["qmtool decode, 4 x 1080p", "ffmpeg -threads 1 to bgr0"], ["≤ 1.15 x ffmpeg"])
rows("decode_mj", ["qmtool decode, 4 x D1 MJPEG", "ffmpeg -threads 1 to bgr0"], ["≤ 1.15 x ffmpeg"])
rows("export_d1", ["qmtool export camera 1 of 16 x D1", "ffmpeg -c copy of camera 1", "cat archive"],
     ["≤ 1.5 x ffmpeg, ≤ 2 x cat"])
rows("export_hd", ["qmtool export camera 1 of 4 x 1080p", "ffmpeg -c copy of camera 1", "cat archive"],
     ["≤ 1.5 x ffmpeg, ≤ 2 x cat"])
rows("export_mp4", ["qmtool export camera 1 to MP4", "ffmpeg -c copy of camera 1 to MP4"],
     ["≤ 1.0 x ffmpeg CPU"])
rows("export_all", ["qmtool export every camera to MP4 with the manifest",
                    "sha256sum + cat of the archive"], ["≤ 1.3 x (wall)"])
rows("verify_all", ["qmtool verify of that export", "sha256sum of the archive and the outputs"],
     ["≤ 1.5 x (wall)"])
rows("recover_d1", ["qmtool recover of the archive without its header", "cat of it"],
     ["≤ 1.25 x (wall)"])
rows("info_d1", [f"qmtool info ({blocks} blocks)", "tail -c of the index bytes",
                 "qmtool --help (start-up only)"], [""])

# Export against cat: ratio to the third command.
for name in ("export_d1", "export_hd"):
    r = results(name)
    print(f"| {name} | qmtool export / cat | | | {cpu(r[0]) / cpu(r[2]):.2f} "
          f"(wall {r[0]['mean'] / r[2]['mean']:.2f}) | ≤ 2 |")

text = open(os.path.join(folder, "player.txt")).read()
def value(key):
    m = re.search(key + r"\s+([0-9.]+)", text)
    return float(m.group(1)) if m else float("nan")
drawn, due = value("frames drawn"), value("frames due")
print(f"| player | 16 x D1 in 4 x 4 at 1x, {value('wall seconds'):.0f} s | | "
      f"{value('cpu seconds'):.2f} ({100 * value('cpu seconds') / value('wall seconds'):.0f}% of one core) | "
      f"shown {drawn:.0f} / due {due:.0f} = {drawn / due:.3f}; peak RSS {value('peak resident'):.1f} MB | "
      f"no drops, < 300 MB |")
print()
print(f"archive {os.path.basename(d1)}: {os.path.getsize(d1) / 2**20:.0f} MiB; load before the player: {load.strip()}")
PY
