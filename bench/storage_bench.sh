#!/bin/sh
# Storage reader benchmarks against the I/O floor, on recordings made by mkrec.
#
#   bench/storage_bench.sh [BUILD_DIR] [WORK_DIR]
#
# BUILD_DIR is a Release build holding tools/mkrec/mkrec and tools/qmtool/qmtool
# (default: build-rel next to this folder). WORK_DIR keeps the generated
# recordings between runs (default: /tmp/qm_storage_bench). Needs hyperfine.
#
# 1. Opening an archive of about 2,000 blocks: `qmtool info` against reading
#    the bytes the index lives in (archive header and mini header table).
# 2. `qmtool frames` over 16 cameras of D1 H.264 against `cat` of the file.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-rel}
work=${2:-/tmp/qm_storage_bench}
mkrec=$build/tools/mkrec/mkrec
qmtool=$build/tools/qmtool/qmtool
for tool in "$mkrec" "$qmtool"; do
    [ -x "$tool" ] || { echo "missing $tool; build $build first" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "hyperfine is not installed" >&2; exit 1; }
mkdir -p "$work"

many=$work/many_blocks.avr
d1=$work/d1_16cam.avr
# One tiny camera in 4 KB blocks: about three blocks a second.
[ -s "$many" ] || "$mkrec" --out "$many" --channels 1 --size 64x48 --fps 25 --gop 4 \
    --block-size 4096 --duration 1050
# Sixteen D1 cameras for a minute in 2 MB blocks.
[ -s "$d1" ] || "$mkrec" --out "$d1" --channels 1-16 --size 704x480 --fps 25 \
    --duration 60 --block-size 2097152

blocks=$("$qmtool" info --json "$many" | sed 's/.*"blocks":\[\([0-9]*\)\].*/\1/')
# The archive header and the mini header table are the file's last bytes.
index_bytes=$((blocks * 16 + 512))
echo "many_blocks.avr: $blocks blocks, $(stat -c %s "$many") bytes; index $index_bytes bytes"
echo "d1_16cam.avr: $(stat -c %s "$d1") bytes"

# `qmtool --help` shows what starting the program alone costs.
hyperfine -N --warmup 3 --min-runs 20 \
    "$qmtool info $many" \
    "tail -c $index_bytes $many" \
    "$qmtool --help"

hyperfine -N --warmup 1 --min-runs 5 \
    "$qmtool frames $d1" \
    "cat $d1"
