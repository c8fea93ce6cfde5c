#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine (run as root, from the checkout):
#   scripts/setup.sh demo   install what is missing, build Release, write demo.avr, open the player
#   scripts/setup.sh test   install what is missing, build with sanitizers, run every test
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
jobs=$(nproc 2>/dev/null || echo 2)

packages=(cmake g++ ninja-build pkg-config qt6-base-dev libavcodec-dev libavutil-dev
          libswscale-dev libasound2-dev libgtest-dev libgmock-dev libbenchmark-dev ffmpeg
          xvfb xauth imagemagick)

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
    install_missing
    build build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_SANITIZE=ON
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ctest --test-dir build-test --output-on-failure -j "$jobs"
    ;;
*)
    echo "usage: $0 demo|test" >&2
    exit 2
    ;;
esac
