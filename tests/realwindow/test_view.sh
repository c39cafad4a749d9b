#!/usr/bin/env bash
# View > Word Wrap from the keyboard: Down, End and Home then go by rows of a long paragraph,
# a resize wraps it again, and turned off, End goes to the end of the line. The text is read
# back through the X clipboard.
# Usage: test_view.sh <quorvex binary> <screenshot folder>
. "$(dirname "$0")/common.sh"
rw_need xclip
rw_start "$1"

copied() {
    rw_activate
    rw_key ctrl+a ctrl+c
    sleep 0.3
    rw_clipboard
}
# Types $1 at the caret, reads the text back and takes the mark out again.
marked_text() {
    rw_type "$1"
    copied
    rw_key ctrl+z
}
# The text with '|' typed at the end of the second row.
second_row_end() {
    rw_key ctrl+Home Down End
    marked_text "|"
}

PARAGRAPH=""
for n in $(seq 1 60); do PARAGRAPH+="word$n and some more "; done
printf '%s' "$PARAGRAPH" | xclip -selection clipboard
rw_key ctrl+v
rw_wait_for 10 sh -c '[ "$(xclip -o -selection clipboard 2>/dev/null | wc -c)" -gt 1000 ]'

rw_key alt+v w
TEXT=$(second_row_end)
case "$TEXT" in
"$PARAGRAPH|" | "|"*) rw_fail "End on the second row went to the line's end or start: ${TEXT:0:80}" ;;
*"| "*) ;;
*) rw_fail "End did not stop before the space the row breaks at: ${TEXT:0:200}" ;;
esac
rw_key Home
TEXT=$(marked_text "^")
case "$TEXT" in
"^"*) rw_fail "Home on the second row went to the line's start" ;;
*" ^"*) ;;
*) rw_fail "Home did not go to the row's start: ${TEXT:0:200}" ;;
esac
rw_screenshot view-wrapped

# Narrower, the paragraph takes more rows: the second row ends earlier.
FIRST_END=$(second_row_end | grep -bo '|' | cut -d: -f1)
xdotool windowsize --sync "$RW_WINDOW" 500 400
sleep 0.5
rw_activate
SECOND_END=$(second_row_end | grep -bo '|' | cut -d: -f1)
[ -n "$FIRST_END" ] && [ -n "$SECOND_END" ] && [ "$SECOND_END" -lt "$FIRST_END" ] \
    || rw_fail "after the resize the second row ends at ${SECOND_END:-?}, before at ${FIRST_END:-?}"

rw_key alt+v w
rw_key ctrl+Home End
TEXT=$(marked_text "|")
[ "$TEXT" = "$PARAGRAPH|" ] || rw_fail "unwrapped, End did not go to the line's end: ${TEXT: -40}"

rw_running || rw_fail "the program ended"
echo "PASS: rows of a wrapped paragraph by Down, End and Home; rewrapped on a resize; unwrapped"
