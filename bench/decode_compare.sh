#!/usr/bin/env bash
# CPU time of `qmtool decode` against the ffmpeg command decoding the same
# elementary streams (single-threaded) to bgr0, over a 16-camera D1 H.264
# archive. Usage: bench/decode_compare.sh [BUILD_DIR] (a Release build made
# with -DQM_BUILD_BENCH=ON; default build-bench).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$here/build-bench}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v hyperfine >/dev/null || { echo "needs hyperfine (apt-get install hyperfine)" >&2; exit 2; }

"$build/tools/mkrec/mkrec" --out "$work/d1x16.avr" --channels 1-16 --duration ${DURATION:-20} \
    --fps 25 --size 704x480 --codec H264 >/dev/null
"$build/bench/qm_extract_streams" "$work/d1x16.avr" "$work/s"
# One single-threaded ffmpeg process decodes all 16 streams to bgr0 and drops them.
ffmpeg_cmd=$(printf 'ffmpeg -v error -threads 1'; for i in $(seq 1 16); do printf ' -f h264 -threads 1 -i %s' "$work/s-cam$i.es"; done; for i in $(seq 1 16); do printf ' -map %d -pix_fmt bgr0 -f null -' $((i - 1)); done)
hyperfine -N --warmup 1 --runs ${RUNS:-5} --export-json "$work/t.json" \
    "$build/tools/qmtool/qmtool decode $work/d1x16.avr" "$ffmpeg_cmd"
python3 - "$work/t.json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
cpu = [x["user"] + x["system"] for x in r]
print("| command | wall s | CPU s (user+sys) |")
print("|---|---|---|")
for name, x, c in zip(["qmtool decode", "ffmpeg -threads 1"], r, cpu):
    print(f"| {name} | {x['mean']:.3f} | {c:.3f} |")
print(f"CPU ratio qmtool/ffmpeg: {cpu[0] / cpu[1]:.3f}")
PY
