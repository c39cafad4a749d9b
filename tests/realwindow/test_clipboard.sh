#!/usr/bin/env bash
# Copy, Paste and Cut from the keyboard in the real window, checked against the X clipboard as
# another program sees it.
# Usage: test_clipboard.sh <quorvex binary> <screenshot folder>
. "$(dirname "$0")/common.sh"
rw_need xclip
rw_start "$1"

# Waits until the clipboard holds exactly $1 (the empty text: no text at all).
expect_clipboard() {
    rw_wait_for 10 rw_clipboard_is "$1" || rw_fail "$2: clipboard holds '$(rw_clipboard)', expected '$1'"
}

# Another program offers the text; xclip serves it in the foreground until it loses the clipboard.
offer() {
    printf '%s' "$1" >"$RW_TMP/offer"
    xclip -selection clipboard -i -quiet "$RW_TMP/offer" >/dev/null 2>&1 &
    RW_PIDS+=($!)
    expect_clipboard "$1" "offering text with xclip"
}

rw_type "first line"
rw_key Return
rw_type "second line"
rw_key ctrl+a ctrl+c
expect_clipboard $'first line\r\nsecond line' "Ctrl+A Ctrl+C"

offer "pasted"
rw_activate
rw_key ctrl+End ctrl+v
rw_key ctrl+a ctrl+c
expect_clipboard $'first line\r\nsecond linepasted' "Ctrl+V at the end"

offer "other"
rw_activate
rw_key ctrl+a ctrl+x
expect_clipboard $'first line\r\nsecond linepasted' "Ctrl+A Ctrl+X"
rw_key ctrl+a ctrl+c
expect_clipboard "" "Ctrl+A Ctrl+C after cutting everything"

rw_running || rw_fail "the program ended"
rw_expect_title "Quorvex - Blank.txt"
rw_screenshot clipboard
echo "PASS: copy, paste and cut went through the X clipboard"
