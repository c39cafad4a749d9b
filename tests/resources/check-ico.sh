#!/bin/bash
# The Windows icon holds exactly three images, 32x32 in 2 colours and 32x32 and 16x16 in
# 16 colours, each with a mask that keeps the corners see-through and the page solid.
# Usage: check-ico.sh ICO [PNG_DIR]    Exits 77 (skipped) without icotool.
set -euo pipefail
ico=$1
pngs=${2:-}
command -v icotool >/dev/null || { echo "SKIP: icotool (icoutils) not found"; exit 77; }

expected='--icon --index=1 --width=32 --height=32 --bit-depth=1 --palette-size=2
--icon --index=2 --width=32 --height=32 --bit-depth=4 --palette-size=16
--icon --index=3 --width=16 --height=16 --bit-depth=4 --palette-size=16'
actual=$(icotool -l "$ico")
if [[ $actual != "$expected" ]]; then
    printf 'FAIL: icotool -l lists\n%s\nexpected\n%s\n' "$actual" "$expected"
    exit 1
fi

if ! command -v convert >/dev/null; then
    echo "icotool -l as expected; image contents not checked (no ImageMagick)"
    exit 0
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
icotool -x -o "$tmp" "$ico"
status=0
pixel() { convert "$1" -format "%[fx:int(255*p{$2,$3}.a)] %[fx:int(255*p{$2,$3}.intensity)]" info:; }
for image in "$tmp"/*.png; do
    size=$(identify -format %w "$image")
    # The drawing's grid is 32 units: the border runs from 4 to 6, the page's margin from 6 to 8.
    corner=$(pixel "$image" 0 0)
    border=$(pixel "$image" $((size * 5 / 32)) $((size / 2)))
    margin=$(pixel "$image" $((size * 7 / 32)) $((size / 2)))
    read -r ca _ <<<"$corner"
    read -r ba bi <<<"$border"
    read -r ma mi <<<"$margin"
    if ((ca != 0 || ba != 255 || bi != 0 || ma != 255 || mi != 255)); then
        echo "FAIL: $(basename "$image"): corner '$corner', border '$border', margin '$margin'" \
            "(alpha and intensity; expected '0 *', '255 0', '255 255')"
        status=1
    fi
done

# The 16-colour images are the same pictures as the PNGs of the same size.
if [[ -n $pngs ]]; then
    for image in "$tmp"/*x4.png; do
        size=$(identify -format %w "$image")
        diff=$(compare -metric AE "$image" "$pngs/quorvex-$size.png" null: 2>&1 || true)
        if [[ $diff != 0 ]]; then
            echo "FAIL: $(basename "$image") differs from quorvex-$size.png in $diff pixels"
            status=1
        fi
    done
fi
exit $status
