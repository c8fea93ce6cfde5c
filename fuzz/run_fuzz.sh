#!/usr/bin/env bash
# Replays every fuzz target's corpus and then fuzzes it for a while.
#   fuzz/run_fuzz.sh BUILD_DIR SECONDS [MKREC]
# BUILD_DIR is a QM_BUILD_FUZZ build. The corpus of each target starts from the
# committed seeds (fuzz/seeds), recordings made by MKREC when given, and the
# saved crash inputs (fuzz/regressions/TARGET); it grows in
# BUILD_DIR/fuzz-corpus/TARGET. A crash leaves its input in
# BUILD_DIR/fuzz-crashes/TARGET; copy it to fuzz/regressions/TARGET once fixed.
# Prints the executions of each target; exits 1 when any target failed.
set -uo pipefail

build=${1:?usage: run_fuzz.sh BUILD_DIR SECONDS [MKREC]}
seconds=${2:?usage: run_fuzz.sh BUILD_DIR SECONDS [MKREC]}
mkrec=${3:-}
src=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "$build" && pwd)
list="$build/fuzz/fuzz_targets.txt"
[ -f "$list" ] || { echo "no $list: configure with -DQM_BUILD_FUZZ=ON" >&2; exit 2; }

# Recordings of every wrapping, both byte orders, two groups, a disk image,
# and the seeds cut from them for the targets that read a selector byte first
# (fuzz/derive_seeds.sh).
generated="$build/fuzz-generated"
if [ -n "$mkrec" ]; then
    rm -rf "$generated"
    mkdir -p "$generated/archive" "$generated/disk"
    common="--duration 2 --fps 4 --gop 2 --block-size 8192"
    # gen FILE "CAMERA..." MKREC_OPTIONS...: the cameras as --channels names them.
    gen() {
        "$mkrec" --out "$1" $common --channels "$(echo $2 | tr ' ' ,)" "${@:3}" >/dev/null &&
            "$src/derive_seeds.sh" "$generated" "$1" $2 ||
            echo "mkrec or derive_seeds failed for $1" >&2
    }
    gen "$generated/archive/h264.avr" "1 2" --size 64x48 --audio 1:2
    gen "$generated/archive/mjpg_be.avr" "1 17" --size 48x32 --codec MJPG \
        --byte-order 0 --audio 17:5 --size-change 1:32x32
    for codec in HISI SOLO STCH STHD; do
        gen "$generated/archive/$codec.avr" 3 --size 32x32 --codec "$codec"
    done
    gen "$generated/disk/disk.img" "1 2" --disk-image --size 64x48 --audio 2:2
fi

failed=()
summary=()
while IFS=: read -r target seeds; do
    [ -n "$target" ] || continue
    exe="$build/fuzz/fuzz_$target"
    corpus="$build/fuzz-corpus/$target"
    crashes="$build/fuzz-crashes/$target"
    mkdir -p "$corpus" "$crashes"
    IFS=, read -ra dirs <<<"$seeds"
    inputs=()
    for d in "${dirs[@]}"; do
        [ -d "$src/seeds/$d" ] && inputs+=("$src/seeds/$d")
        [ -d "$generated/$d" ] && inputs+=("$generated/$d")
    done
    [ -d "$src/regressions/$target" ] && inputs+=("$src/regressions/$target")
    log="$build/fuzz-$target.log"
    echo "== fuzz_$target: ${seconds}s from ${inputs[*]}"
    # The first corpus directory receives new inputs; the others are read only.
    "$exe" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 \
        -print_final_stats=1 -artifact_prefix="$crashes/" "$corpus" "${inputs[@]}" >"$log" 2>&1
    status=$?
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
    summary+=("fuzz_$target: ${execs:-?} executions, status $status")
    if [ $status -ne 0 ]; then
        failed+=("$target")
        tail -n 60 "$log"
    fi
done <"$list"

printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz targets that failed: ${failed[*]} (inputs in $build/fuzz-crashes)" >&2
    exit 1
fi
