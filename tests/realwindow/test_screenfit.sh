#!/usr/bin/env bash
# At twice the scale on a 1280x1024 screen the window, frame and all, lies on the screen.
# Usage: test_screenfit.sh <quorvex binary> <screenshot folder>
. "$(dirname "$0")/common.sh"
RW_SCREEN=1280x1024x24
export QT_SCALE_FACTOR=2
rw_need xprop xwininfo
rw_start "$1"

# The frame's edges as "left top right bottom", from the window's place and the frame extents.
frame_edges() {
    local info x y w h extents
    info=$(xwininfo -id "$RW_WINDOW")
    x=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$info")
    y=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$info")
    w=$(awk '/Width:/ {print $NF}' <<<"$info")
    h=$(awk '/Height:/ {print $NF}' <<<"$info")
    extents=$(xprop -id "$RW_WINDOW" _NET_FRAME_EXTENTS | grep -o '[0-9, ]*$' | tr -d ,)
    read -r l r t b <<<"$extents"
    echo "$((x - ${l:-0})) $((y - ${t:-0})) $((x + w + ${r:-0})) $((y + h + ${b:-0}))"
}
on_screen() {
    read -r left top right bottom <<<"$(frame_edges)"
    ((left >= 0 && top >= 0 && right <= 1280 && bottom <= 1024))
}
rw_wait_for 10 on_screen || rw_fail "the window spans $(frame_edges) on a 1280x1024 screen"
rw_screenshot screenfit
echo "PASS: the window spans $(frame_edges)"
