#!/usr/bin/env bash
# Find, Replace, Replace All, undo and Go To Line through the real dialogs, from the keyboard;
# the text is read back through the X clipboard, where Cut leaves it for other programs.
# Usage: test_search.sh <quorvex binary> <screenshot folder>
. "$(dirname "$0")/common.sh"
rw_need xclip
rw_start "$1"

# The dialog takes the keys typed next only once it is the active window: under load its
# activation can take longer than rw_activate waits, so it is asked again until it is.
search_dialog() {
    local id
    rw_dialog "$1"
    id=$(rw_find "$1")
    rw_wait_for 20 sh -c '[ "$(xdotool getactivewindow)" = "$1" ] || {
        timeout 3 xdotool windowactivate --sync "$1"; false; }' _ "$id" \
        || rw_fail "the dialog '$1' did not take the keys"
}

# The main window's selection, read with Ctrl+C alone (Ctrl+A would change what a pending
# Replace looks at), until it is $1.
expect_selection() {
    local tries
    for tries in $(seq 1 20); do
        rw_activate
        rw_key ctrl+c
        rw_wait_for 1 rw_clipboard_is "$1" && return 0
    done
    rw_fail "$2: the selection is '$(rw_clipboard)', expected '$1'"
}

# The second match differs from the first in case (the search ignores case), so that the
# selection tells when Replace has moved on to it.
rw_type "alpha beta Alpha"
rw_key Return
rw_type "gamma alpha"
TEXT=$'alpha beta Alpha\r\ngamma alpha'
rw_expect_text "$TEXT" "typing"

# Find: Return in the dialog finds the first match, which typing then replaces.
rw_key ctrl+Home ctrl+f
search_dialog "^Find$"
rw_type "alpha"
rw_key Return Escape
rw_activate
rw_type "X"
rw_expect_text $'X beta Alpha\r\ngamma alpha' "typing over the found match"
rw_key ctrl+z
rw_expect_text "$TEXT" "undoing the typing"

# Replace: Return finds the first match, Replace replaces it and finds the next. A button pressed
# by its mnemonic clicks a moment later: the text is read once the next match is selected, as a
# Ctrl+A before the click would leave no match selected to replace.
rw_key ctrl+Home ctrl+h
search_dialog "^Replace$"
rw_key ctrl+a
rw_type "alpha"
rw_key Tab
rw_type "omega"
rw_key Return alt+r
expect_selection "Alpha" "Replace moving on to the next match"
rw_expect_text $'omega beta Alpha\r\ngamma alpha' "Replace"

# Replace All, then one undo takes all of it back.
rw_key ctrl+h
search_dialog "^Replace$"
rw_key alt+a
rw_expect_text $'omega beta omega\r\ngamma omega' "Replace All"
rw_screenshot search-replaced
rw_key ctrl+z
rw_expect_text $'omega beta Alpha\r\ngamma alpha' "undoing Replace All"

# Go To Line puts the caret at the start of the line.
rw_key ctrl+Home ctrl+g
search_dialog "^Go To Line$"
rw_key ctrl+a
rw_type "2"
rw_key Return
rw_activate
rw_type "Z"
rw_expect_text $'omega beta Alpha\r\nZgamma alpha' "Go To Line"

# Cut: another program still reads the text once it has left the document; a copy of nothing
# then empties the clipboard.
expect_clipboard() {
    rw_wait_for 10 rw_clipboard_is "$1" || rw_fail "$2: clipboard holds '$(rw_clipboard)', expected '$1'"
}
rw_key ctrl+End
rw_type "!"
rw_key ctrl+a ctrl+x
expect_clipboard $'omega beta Alpha\r\nZgamma alpha!' "Ctrl+A Ctrl+X"
rw_key ctrl+a ctrl+c
expect_clipboard "" "Ctrl+A Ctrl+C after cutting everything"

rw_running || rw_fail "the program ended"
rw_expect_title "Quorvex - Blank.txt"
rw_screenshot search
echo "PASS: found, replaced one and all, undid, went to a line, cut"
