#!/bin/bash
# cmake --install into a temporary prefix puts the program, the desktop entry, the metainfo
# and every icon where desktops look for them; each PNG is in the folder of its own size.
# Usage: check-install.sh BUILD_DIR PROGRAM    Run after the build.
set -euo pipefail
build=$1
program=$2
[[ -x $program ]] || { echo "FAIL: $program is not built; build before running the tests"; exit 1; }
source "$(dirname "$0")/installed-files.sh"

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || { cat "$prefix.log"; rm -f "$prefix.log"; exit 1; }
rm -f "$prefix.log"

status=0
for file in "${installed_files[@]}"; do
    [[ -f $prefix/$file ]] || { echo "FAIL: $file not installed"; status=1; }
done
[[ -x $prefix/bin/quorvex ]] || { echo "FAIL: bin/quorvex is not executable"; status=1; }
# A PNG's width and height are the big-endian words at bytes 16 and 20.
for size in "${icon_sizes[@]}"; do
    png=$prefix/share/icons/hicolor/${size}x$size/apps/quorvex.png
    [[ -f $png ]] || continue
    read -r width height <<<"$(od -An -j16 -N8 -tu1 "$png" | awk '{print $3*256+$4, $7*256+$8}')"
    [[ "$width $height" == "$size $size" ]] \
        || { echo "FAIL: ${size}x$size/apps/quorvex.png is ${width}x$height"; status=1; }
done
[[ $status == 0 ]] && echo "installed ${#installed_files[@]} files in place"
exit $status
