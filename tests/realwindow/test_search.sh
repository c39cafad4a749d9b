#!/usr/bin/env bash
# Replace All and Go To Line through the real dialogs, from the keyboard: each dialog must take
# the keys once shown. The text is read back through the X clipboard.
# Usage: test_search.sh <quorvex binary> <screenshot folder>
. "$(dirname "$0")/common.sh"
RW_SHOT_DIR=${2:-.}
rw_need xclip
rw_start "$1"

# Copies the whole text until the clipboard holds exactly $1 (a button pressed by its mnemonic
# clicks a moment later).
expect_text() {
    local tries
    for tries in 1 2 3 4 5; do
        rw_activate
        rw_key ctrl+a ctrl+c
        rw_wait_for 1 sh -c '[ "$(xclip -o -selection clipboard 2>/dev/null)" = "$1" ]' _ "$1" \
            && return 0
    done
    rw_fail "$2: the text is '$(xclip -o -selection clipboard 2>/dev/null)', expected '$1'"
}

rw_type "alpha beta alpha"
rw_key Return
rw_type "gamma alpha"
expect_text $'alpha beta alpha\r\ngamma alpha' "typing"

rw_key ctrl+Home ctrl+h
rw_dialog "^Replace$"
rw_key ctrl+a
rw_type "alpha"
rw_key Tab
rw_type "omega"
rw_key alt+a
expect_text $'omega beta omega\r\ngamma omega' "Replace All"

# Go To Line puts the caret at the start of the line.
rw_key ctrl+Home ctrl+g
rw_dialog "^Go To Line$"
rw_key ctrl+a
rw_type "2"
rw_key Return
rw_activate
rw_type "Z"
expect_text $'omega beta omega\r\nZgamma omega' "Go To Line"

rw_running || rw_fail "the program ended"
rw_expect_title "Quorvex - Blank.txt"
rw_screenshot search
echo "PASS: replaced all and went to a line through the real dialogs"
