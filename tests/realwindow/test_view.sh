#!/usr/bin/env bash
# View > Word Wrap from the keyboard: Down, End and Home then go by rows of a long paragraph,
# a resize wraps it again, and turned off, End goes to the end of the line. The text is read
# back through the X clipboard.
# After keys that repaint only the rows they change, the window shows what a full repaint shows.
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

# Keys that repaint only the rows they change leave the window as a repaint of everything would:
# turning wrap off and on again repaints all with the same text at the top. The caret blinks, so
# one of a few later shots must match.
rw_need compare
window_shot() { import -window "$RW_WINDOW" "$RW_TMP/$1.png" 2>/dev/null; }
rw_key Down Down Right Right shift+Down shift+Right BackSpace
rw_type "xy"
rw_key ctrl+z ctrl+z ctrl+Home
sleep 0.3
window_shot partial
rw_key alt+v w alt+v w
same=""
for i in 1 2 3 4 5; do
    sleep 0.2
    window_shot whole
    if [ "$(compare -metric AE "$RW_TMP/partial.png" "$RW_TMP/whole.png" null: 2>&1)" = 0 ]; then
        same=1
        break
    fi
done
[ -n "$same" ] || rw_fail "after keys that repaint only their rows the window differs from a full repaint"

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
