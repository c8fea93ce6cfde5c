#!/bin/sh
# The player window playing, offscreen, at 1x: frames drawn against frames
# due, CPU time and peak resident memory.
#
#   bench/player_bench.sh [BUILD_DIR] [WORK_DIR] [SECONDS]
#
# BUILD_DIR is a Release build configured with -DQM_BUILD_BENCH=ON (default:
# build-bench next to this folder). WORK_DIR keeps the generated recordings
# (default: /tmp/qm_player_bench).
#
# 1. Four D1 cameras in the 2 x 2 split.
# 2. Sixteen D1 cameras in the 4 x 4 split.
# 3. The same in the video area of a maximised 1920 x 1080 window (1702 x 892
#    with the coverage lanes under the timeline).
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-bench}
work=${2:-/tmp/qm_player_bench}
seconds=${3:-30}
mkrec=$build/tools/mkrec/mkrec
bench=$build/bench/qm_player_bench
for tool in "$mkrec" "$bench"; do
    [ -x "$tool" ] || { echo "missing $tool; build $build with -DQM_BUILD_BENCH=ON" >&2; exit 1; }
done
mkdir -p "$work"

duration=$((seconds + 15))
four=$work/d1_4cam_${duration}s.avr
sixteen=$work/d1_16cam_${duration}s.avr
[ -s "$four" ] || "$mkrec" --out "$four" --channels 1-4 --size 704x480 --fps 25 --duration "$duration"
[ -s "$sixteen" ] || "$mkrec" --out "$sixteen" --channels 1-16 --size 704x480 --fps 25 \
    --duration "$duration"

echo "== 4 cameras D1, 2 x 2 split, ${seconds} s at 1x"
"$bench" "$four" 2 "$seconds" 25
echo "== 16 cameras D1, 4 x 4 split, ${seconds} s at 1x"
"$bench" "$sixteen" 4 "$seconds" 25
echo "== 16 cameras D1, 4 x 4 split of a maximised 1920 x 1080 window, ${seconds} s at 1x"
"$bench" "$sixteen" 4 "$seconds" 25 1702 892
