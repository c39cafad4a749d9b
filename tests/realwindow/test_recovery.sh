#!/usr/bin/env bash
# The recovery journal as a person meets it: text typed, the program killed, and the question at
# the next start answered Yes, Cancel and No.
# Usage: test_recovery.sh <quorvex binary> <screenshot folder>
. "$(dirname "$0")/common.sh"
rw_need xclip
DOCS="$RW_TMP/docs"
mkdir "$DOCS"
FILE="$DOCS/notes.txt"
rw_start "$1"

# Kills the program as a crash would.
kill_app() {
    kill -9 "$RW_APP_PID"
    wait "$RW_APP_PID" 2>/dev/null
}
# The question's words are the editor tests'; here it is the box titled with the program's name.
QUESTION='^Quorvex$'
journals() { ls "$XDG_STATE_HOME/quorvex" 2>/dev/null | grep -c '^journal-'; }

# A document saved, then changed, then lost with the program.
rw_type "hello"
rw_key ctrl+s
rw_choose_file Save "$FILE"
rw_expect_title "Quorvex - $FILE File Size : 6 Bytes ]"
rw_activate
rw_type " world"
sleep 2.5 # a change may take two seconds to reach the disk
kill_app

# Yes: the text comes back, changed, under its file's name.
rw_launch "$1"
rw_dialog "$QUESTION"
rw_screenshot recovery-question
rw_key Return
rw_expect_title "Quorvex - $FILE FileSize : 12 Bytes ]"
rw_expect_text "hello world" "recovered"
[ "$(stat -c %a "$XDG_STATE_HOME/quorvex")" = 700 ] || rw_fail "the folder is not private"

# The journal goes on: more typing is kept too. Cancel keeps it for the next start.
rw_key ctrl+End
rw_type "!"
sleep 2.5
kill_app
rw_launch "$1"
rw_dialog "$QUESTION"
rw_key Escape
rw_expect_title "Quorvex - Blank.txt"
[ "$(journals)" -ge 1 ] || rw_fail "Cancel did not keep the journal"
kill_app

# No: it is deleted, and the start after asks nothing.
rw_launch "$1"
rw_dialog "$QUESTION"
rw_key alt+n
rw_expect_gone "$QUESTION"
[ "$(journals)" = 0 ] || rw_fail "No left the journal"
cmp -s <(printf '"hello"\r\n') "$FILE" || rw_fail "recovery changed the file"
rw_key ctrl+e
rw_wait_for 10 eval "! xdotool search --pid $RW_APP_PID --name '^Quorvex '" \
    || rw_fail "Exit did not end the program"
wait "$RW_APP_PID" 2>/dev/null
rw_launch "$1"
sleep 1
rw_find "$QUESTION" >/dev/null && rw_fail "a question came with no journal left"
rw_expect_title "Quorvex - Blank.txt"
echo "PASS: killed, recovered with Yes, kept with Cancel, dropped with No"
