#!/usr/bin/env bash
# Escape stops a long Open in the real window: the failure box that says the user stopped it,
# the reading caption left in place, and the window answering again afterwards.
# Usage: test_progress.sh <quorvex binary> <screenshot folder>
. "$(dirname "$0")/common.sh"
RW_SHOT_DIR=${2:-.}
FILE="$RW_TMP/long.txt"
# Short comma-separated items, each a line of its own once read: seconds of reading.
yes 'ab,cd,ef,gh,ij,kl,mn,op,qr,st,uv,wx,yz' | head -c 300M >"$FILE"
BEFORE=$(cksum <"$FILE")
rw_start "$1"
rw_expect_title "Quorvex - Blank.txt"

rw_key ctrl+o
rw_dialog '^Open a file \(\*\.txt\)$'
rw_key ctrl+a
rw_type "$FILE"
rw_key Return
rw_expect_title "Quorvex : Reading the file $FILE..." 20
rw_key Escape

rw_dialog '^18$'
rw_screenshot progress-stopped
rw_key Return
rw_wait_for 10 eval "! rw_find '^18\$'" || rw_fail "the failure box did not go away"
rw_expect_title "Quorvex : Reading the file $FILE..."
[ "$(cksum <"$FILE")" = "$BEFORE" ] || rw_fail "the file changed"

# The window answers again: Select All, then typing replaces what was read.
rw_activate
rw_key ctrl+a
rw_type "kept"
rw_key ctrl+s
rw_dialog '^Save$'
rw_key Escape
rw_running || rw_fail "the program ended"
echo "PASS: Escape stopped a long Open, which was reported and left the window usable"
