#!/bin/sh
# What an examiner feels, in the real player window (offscreen): one JSON
# object per scenario on stdout, nothing else.
#
#   bench/responsiveness.sh BUILD_DIR [SOURCE16 SOURCE32]
#
# BUILD_DIR is a Release build configured with -DQM_BUILD_BENCH=ON. SOURCE16
# is a recording of 16 cameras, SOURCE32 one of 32 (two groups); without them
# the script makes camera-like D1 recordings with mkrec. The 16 cameras of
# 1920 x 1080 for play16hd are always made here. Recordings are kept in
# QM_RESPONSIVENESS_WORK (default /tmp/qm_responsiveness) for the next run,
# and the programs' messages go to responsiveness.log there.
#
# Scenarios:
#   start     qmplayer -path SOURCE16 -m 4 until every cell shows a picture (5 runs)
#   seek      20 timeline releases until every cell shows the new moment
#   ff64      16 cameras at 64x for 20 s: key frames shown / due, recorded s per s
#   reverse   16 cameras in reverse play for 20 s: key frames shown / due
#   play32    32 cameras in the 32 split at 1x for 30 s; play32x2 at 2x
#   play16hd  16 cameras of 1080p in the 4 x 4 split of a 1920 x 1080 window, 30 s
set -eu

if [ $# -ne 1 ] && [ $# -ne 3 ]; then
    echo "usage: $0 BUILD_DIR [SOURCE16 SOURCE32]" >&2
    exit 2
fi
build=$1
bench=$build/bench/qm_responsiveness
mkrec=$build/tools/mkrec/mkrec
for tool in "$bench" "$mkrec"; do
    if [ ! -x "$tool" ]; then
        echo "missing $tool: configure $build as a Release build with -DQM_BUILD_BENCH=ON" \
            "and build it (cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_BENCH=ON)" >&2
        exit 1
    fi
done
if ! grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$build/CMakeCache.txt" 2>/dev/null; then
    echo "note: $build is not a Release build; the figures will not be comparable" >&2
fi

work=${QM_RESPONSIVENESS_WORK:-/tmp/qm_responsiveness}
mkdir -p "$work"
log=$work/responsiveness.log
: >"$log"

make_recording() { # make_recording FILE MKREC-OPTIONS...
    file=$1
    shift
    [ -s "$file" ] && return 0
    echo "making $file" >&2
    "$mkrec" --out "$file.part" --content camera --fps 25 "$@" >>"$log" 2>&1
    mv "$file.part" "$file"
}

if [ $# -eq 3 ]; then
    source16=$2
    source32=$3
else
    source16=$work/camera_d1_16cam_120s.avr
    source32=$work/camera_d1_32cam_75s.avr
    make_recording "$source16" --channels 1-16 --size 704x480 --duration 120
    make_recording "$source32" --channels 1-32 --size 704x480 --duration 75
fi
hd16=$work/camera_1080p_16cam_40s.avr
make_recording "$hd16" --channels 1-16 --size 1920x1080 --duration 40

run() {
    "$bench" "$@" 2>>"$log" || echo "qm_responsiveness $* failed; see $log" >&2
}
run start "$source16" 5
run seek "$source16" 20
run ff64 "$source16" 20
run reverse "$source16" 20
run play play32 "$source32" 5 30 1
run play play32x2 "$source32" 5 30 2
run play play16hd "$hd16" 4 30 1 1920 1080
