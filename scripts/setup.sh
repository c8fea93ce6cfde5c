#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine (run as root, from the checkout):
#   scripts/setup.sh demo   install what is missing, build Release, write demo.avr, open the player
#   scripts/setup.sh test   install what is missing, then three stages, each its own build:
#                           AddressSanitizer + UBSan build running every test;
#                           ThreadSanitizer build running the threaded tests;
#                           libFuzzer build (clang) replaying and fuzzing every target
#                           (QM_FUZZ_SECONDS each, default 30)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
jobs=$(nproc 2>/dev/null || echo 2)

packages=(cmake g++ ninja-build pkg-config qt6-base-dev libavcodec-dev libavutil-dev
          libswscale-dev libasound2-dev libgtest-dev libgmock-dev libbenchmark-dev ffmpeg
          xvfb xauth imagemagick clang libavformat-dev libssl-dev nlohmann-json3-dev)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

build() { # build DIR [cmake options...]
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$jobs"
}

stage() { # stage NAME: prints the time the previous stage took
    local now
    now=$(date +%s)
    if [ -n "${stage_name:-}" ]; then
        echo "== stage '$stage_name' took $((now - stage_start)) s"
    fi
    stage_name=${1:-}
    stage_start=$now
    [ -z "$stage_name" ] || echo "== stage '$stage_name'"
}

# The tests that run threads against each other: the storage reader, the
# player's threads, the sound output, the main window, the thread base.
tsan_targets=(storage_tests player_tests sound_output_tests main_window_tests platform_tests)
tsan_tests='^(storage|player|main_window)\.|^render\.WaveOut|^(ThreadBase|Event)\.'
# Checks of the playing pace measure wall time, which the sanitizer's slowdown
# distorts; the ASan stage runs them.
tsan_skip='AtTheRecordedPace'

case "${1:-}" in
demo)
    install_missing
    build build -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF
    build/tools/mkrec/mkrec --out demo.avr --channels 1-4 --duration 120 --fps 25 \
        --size 704x480 --codec H264 --audio 1:5 --titles "CAM %d"
    echo "Wrote demo.avr"
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        exec build/app/qmplayer -path demo.avr -m 2
    else
        echo "No display: start the player with  build/app/qmplayer -path demo.avr -m 2"
    fi
    ;;
test)
    # Build directories, one per configuration (overridable for local runs).
    asan_dir=${QM_ASAN_BUILD:-build-test}
    tsan_dir=${QM_TSAN_BUILD:-build-tsan}
    fuzz_dir=${QM_FUZZ_BUILD:-build-fuzz}
    stage install
    install_missing

    stage "address and undefined sanitizers: every test"
    build "$asan_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_SANITIZE=ON
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ctest --test-dir "$asan_dir" --output-on-failure -j "$jobs"

    stage "thread sanitizer: threaded tests"
    cmake -S . -B "$tsan_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TSAN=ON
    cmake --build "$tsan_dir" -j "$jobs" --target "${tsan_targets[@]}"
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        ctest --test-dir "$tsan_dir" --output-on-failure -j "$jobs" -R "$tsan_tests" -E "$tsan_skip"

    stage "fuzz targets: corpus replay and ${QM_FUZZ_SECONDS:-30} s of fuzzing each"
    CC=clang CXX=clang++ cmake -S . -B "$fuzz_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQM_BUILD_FUZZ=ON
    cmake --build "$fuzz_dir" -j "$jobs" --target qm_fuzz_all
    fuzz/run_fuzz.sh "$fuzz_dir" "${QM_FUZZ_SECONDS:-30}" "$asan_dir/tools/mkrec/mkrec"
    stage
    ;;
*)
    echo "usage: $0 demo|test" >&2
    exit 2
    ;;
esac
