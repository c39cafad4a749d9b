#!/usr/bin/env bash
# A file dragged from another program (dragsource, which drags as a file manager does, through
# the X drag-and-drop protocol) and dropped on the window: with changes the discard question
# comes first, then the file is read as Open reads it.
# Usage: test_drop.sh <quorvex binary> <screenshot folder> <dragsource binary>
. "$(dirname "$0")/common.sh"
SOURCE=$3
FILE="$RW_TMP/dropped.txt"
printf 'a,b' >"$FILE"
rw_start "$1"
rw_expect_title "Quorvex - Blank.txt"

# Starts the drag source beside the window, presses on it and carries the pointer over the text
# box in steps, each waited for, then lets go.
rw_drag_file() {
    [ -n "${SOURCE_PID:-}" ] && kill "$SOURCE_PID"
    "$SOURCE" "$FILE" >"$RW_TMP/source.log" 2>&1 &
    local pid=$!
    SOURCE_PID=$pid
    RW_PIDS+=($pid)
    rw_wait_for 10 xdotool search --onlyvisible --pid "$pid" --name '^Drag source$' \
        || rw_fail "the drag source did not appear"
    local source
    source=$(xdotool search --onlyvisible --pid "$pid" --name '^Drag source$' | head -n 1)
    xdotool windowmove --sync "$source" 1080 860
    eval "$(xdotool getwindowgeometry --shell "$source")"
    local x=$((X + WIDTH / 2)) y=$((Y + HEIGHT / 2))
    xdotool mousemove --sync "$x" "$y" mousedown 1
    eval "$(xdotool getwindowgeometry --shell "$RW_WINDOW")"
    local tx=$((X + WIDTH / 2)) ty=$((Y + HEIGHT / 2)) step
    for step in 1 2 3 4 5 6 7 8 9 10; do
        xdotool mousemove --sync $((x + (tx - x) * step / 10)) $((y + (ty - y) * step / 10))
    done
    xdotool mousemove --sync $((tx + 3)) $((ty + 3)) mouseup 1
    rw_wait_for 10 grep -q "drag ended" "$RW_TMP/source.log" \
        || rw_fail "the drag did not end: $(cat "$RW_TMP/source.log")"
}

# With unsaved text, No (the default button) keeps the text and the file unread.
rw_type "x"
rw_drag_file
rw_dialog '^Quorvex$'
rw_screenshot drop-question
rw_key Return
rw_expect_gone '^Quorvex$'
rw_expect_title "Quorvex - Blank.txt"

# Yes reads it: the items a and b, figure 4.
rw_drag_file
rw_dialog '^Quorvex$'
rw_key alt+y
rw_expect_title "Quorvex - $FILE FileSize : 4 Bytes ]"

rw_screenshot drop
echo "PASS: a dropped file asked about the changes, then opened"
