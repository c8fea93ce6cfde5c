#!/usr/bin/env bash
# Seeds for the targets that read a selector byte in front of their bytes,
# cut from a recording (an archive or a disk image):
#   fuzz/derive_seeds.sh OUT_DIR RECORDING CAMERA...
# CAMERA: the cameras the recording holds, numbered from 1 as the user sees them.
# Writes, named good-* after the recording (the replay checks that they deliver):
#   OUT_DIR/formats         archive: the byte-order bit before its first block (its
#                           frames), before its header, and with block number 1
#                           before its second block's header; disk: its
#                           information sector
#   OUT_DIR/export_archive  each camera's number (from 0) before the archive
#   OUT_DIR/export_disk     each camera's number (from 0) before the disk image
# Needs only coreutils; exits 1 when the recording is neither.
set -euo pipefail

out=${1:?usage: derive_seeds.sh OUT_DIR RECORDING CAMERA...}
rec=${2:?usage: derive_seeds.sh OUT_DIR RECORDING CAMERA...}
shift 2
name=$(basename "$rec")
name=${name%.*}
name=${name#good-}
size=$(stat -c %s "$rec")

u8() { od -An -tu1 -j "$1" -N 1 "$rec" | tr -d ' '; }
hex4() { od -An -tx1 -j "$1" -N 4 "$rec" | tr -d ' \n'; }
# seed FILE SELECTOR OFFSET LENGTH: the selector byte, then LENGTH bytes of the
# recording from OFFSET (all of it for LENGTH "all").
seed() {
    mkdir -p "$(dirname "$1")"
    {
        printf "\\$(printf %03o "$2")"
        if [ "$4" = all ]; then
            cat "$rec"
        else
            dd if="$rec" iflag=skip_bytes,count_bytes skip="$3" count="$4" bs=4096 status=none
        fi
    } >"$1"
}

# A disk image has its information sector at 512, marked QmVd.
if [ "$size" -ge 1024 ] && [ "$(hex4 512)" = 64566d51 ]; then
    seed "$out/formats/good-info-$name" 1 512 512
    for cam in "$@"; do
        seed "$out/export_disk/good-cam$cam-$name.img" $((cam - 1)) 0 all
    done
    exit 0
fi

[ "$size" -ge 512 ] || { echo "$rec: too short for a recording" >&2; exit 1; }
header=$((size - 512))
case "$(hex4 "$header")" in
66586d51 | 516d5866) ;; # the magic in either byte order
*) echo "$rec: neither an archive nor a disk image" >&2; exit 1 ;;
esac
# Byte 46: 1 little-endian, anything else big-endian; the block size at 140.
order=$(( $(u8 $((header + 46))) == 1 ? 1 : 0 ))
b=()
for i in 0 1 2 3; do b+=("$(u8 $((header + 140 + i)))"); done
if [ "$order" = 1 ]; then
    block=$((b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24))
else
    block=$((b[3] | b[2] << 8 | b[1] << 16 | b[0] << 24))
fi
[ "$block" -ge 1024 ] && [ "$block" -le "$header" ] || { echo "$rec: block size $block" >&2; exit 1; }

seed "$out/formats/good-frames-$name" "$order" 0 "$block"
seed "$out/formats/good-header-$name" "$order" "$header" 512
if [ $((2 * block)) -le "$header" ]; then
    seed "$out/formats/good-block-$name" $((order | 1 << 1)) $((2 * block - 512)) 512
else
    seed "$out/formats/good-block-$name" "$order" $((block - 512)) 512
fi
for cam in "$@"; do
    seed "$out/export_archive/good-cam$cam-$name.avr" $((cam - 1)) 0 all
done
