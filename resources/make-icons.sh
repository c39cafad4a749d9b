#!/bin/sh
# Remakes the application icon's PNGs and its Windows .ico from icons/quorvex.svg.
# The results are committed; run this again only after changing the drawing.
# Needs ImageMagick (convert) and icoutils (icotool); uses rsvg-convert when present.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
icons=$here/icons
svg=$icons/quorvex.svg
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for tool in convert icotool; do
    command -v "$tool" >/dev/null || { echo "make-icons.sh: $tool is missing" >&2; exit 1; }
done

# No dates or other metadata, so that an unchanged drawing gives unchanged files.
png() { # output, operations...
    out=$1
    shift
    convert "$@" -strip -define png:exclude-chunks=date,time "PNG32:$out"
}

# One large rendering; every size is taken from it. 1024 is a multiple of 32, so the
# sampled 16 and 32 pixel images hit the middle of each grid square of the drawing.
master=$tmp/master.png
if command -v rsvg-convert >/dev/null; then
    rsvg-convert -w 1024 -h 1024 -o "$master" "$svg"
else
    convert -background none -density 288 "$svg" -depth 8 "$master"
fi

for size in 16 22 24 32 48 64 128 256; do
    case $size in
    16 | 32) scale="-sample ${size}x$size" ;; # the drawing sits on this grid: keep it sharp
    *) scale="-filter Box -resize ${size}x$size" ;;
    esac
    # shellcheck disable=SC2086
    png "$icons/quorvex-$size.png" "$master" $scale -depth 8
done

# The .ico holds three images: 32x32 in 2 colours, 32x32 and 16x16 in 16 colours.
# The drawing uses only colours of the standard 16-colour palette, so the remap is exact;
# transparency becomes the icon's mask.
palette=$tmp/palette.png
convert -size 1x1 xc:'#000000' xc:'#800000' xc:'#008000' xc:'#808000' xc:'#000080' \
    xc:'#800080' xc:'#008080' xc:'#c0c0c0' xc:'#808080' xc:'#ff0000' xc:'#00ff00' \
    xc:'#ffff00' xc:'#0000ff' xc:'#ff00ff' xc:'#00ffff' xc:'#ffffff' +append "$palette"

lowcolour() { # output, source, colour operations...
    out=$1
    src=$2
    shift 2
    convert "$src" -alpha off "$@" \( "$src" -alpha extract -threshold 50% \) \
        -compose CopyOpacity -composite -background black -alpha background "PNG32:$out"
}

convert "$master" -sample 32x32 "$tmp/32.png"
convert "$master" -sample 16x16 "$tmp/16.png"
lowcolour "$tmp/32x1.png" "$tmp/32.png" -colorspace gray -threshold 50% -colorspace sRGB
lowcolour "$tmp/32x4.png" "$tmp/32.png" +dither -remap "$palette"
lowcolour "$tmp/16x4.png" "$tmp/16.png" +dither -remap "$palette"
icotool -c -o "$icons/quorvex.ico" -b 1 "$tmp/32x1.png" -b 4 "$tmp/32x4.png" -b 4 "$tmp/16x4.png"

icotool -l "$icons/quorvex.ico"
