#!/usr/bin/env bash
# Find, Replace, Replace All, undo and Go To Line through the real dialogs, from the keyboard;
# the text is read back through the X clipboard, where Cut leaves it for other programs.
# Usage: test_search.sh <quorvex binary> <screenshot folder>
. "$(dirname "$0")/common.sh"
rw_need xclip
rw_start "$1"

rw_type "alpha beta alpha"
rw_key Return
rw_type "gamma alpha"
TEXT=$'alpha beta alpha\r\ngamma alpha'
rw_expect_text "$TEXT" "typing"

# Find: Return in the dialog finds the first match, which typing then replaces.
rw_key ctrl+Home ctrl+f
rw_dialog "^Find$"
rw_type "alpha"
rw_key Return Escape
rw_activate
rw_type "X"
rw_expect_text $'X beta alpha\r\ngamma alpha' "typing over the found match"
rw_key ctrl+z
rw_expect_text "$TEXT" "undoing the typing"

# Replace: Return finds the first match, Replace replaces it and finds the next.
rw_key ctrl+Home ctrl+h
rw_dialog "^Replace$"
rw_key ctrl+a
rw_type "alpha"
rw_key Tab
rw_type "omega"
rw_key Return alt+r
rw_expect_text $'omega beta alpha\r\ngamma alpha' "Replace"

# Replace All, then one undo takes all of it back.
rw_key ctrl+h
rw_dialog "^Replace$"
rw_key alt+a
rw_expect_text $'omega beta omega\r\ngamma omega' "Replace All"
rw_screenshot search-replaced
rw_key ctrl+z
rw_expect_text $'omega beta alpha\r\ngamma alpha' "undoing Replace All"

# Go To Line puts the caret at the start of the line.
rw_key ctrl+Home ctrl+g
rw_dialog "^Go To Line$"
rw_key ctrl+a
rw_type "2"
rw_key Return
rw_activate
rw_type "Z"
rw_expect_text $'omega beta alpha\r\nZgamma alpha' "Go To Line"

# Cut: another program still reads the text once it has left the document; a copy of nothing
# then empties the clipboard.
expect_clipboard() {
    rw_wait_for 10 rw_clipboard_is "$1" || rw_fail "$2: clipboard holds '$(rw_clipboard)', expected '$1'"
}
rw_key ctrl+End
rw_type "!"
rw_key ctrl+a ctrl+x
expect_clipboard $'omega beta alpha\r\nZgamma alpha!' "Ctrl+A Ctrl+X"
rw_key ctrl+a ctrl+c
expect_clipboard "" "Ctrl+A Ctrl+C after cutting everything"

rw_running || rw_fail "the program ended"
rw_expect_title "Quorvex - Blank.txt"
rw_screenshot search
echo "PASS: found, replaced one and all, undid, went to a line, cut"
