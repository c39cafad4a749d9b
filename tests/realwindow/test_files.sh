#!/usr/bin/env bash
# Save and closing the window, as a person does them: keys, the real file dialog, the window
# manager's close, and the question that guards unsaved text. What Save writes and Open reads
# back is the file command tests'.
# Usage: test_files.sh <quorvex binary> <screenshot folder>
. "$(dirname "$0")/common.sh"
rw_need wmctrl
DOCS="$RW_TMP/docs"
mkdir "$DOCS"
FILE="$DOCS/saved.txt"
rw_start "$1"

rw_expect_title "Quorvex - Blank.txt"
rw_type "hello files"

# Save: a clean name typed into the real save dialog.
rw_key ctrl+s
rw_choose_file "Save" "$FILE"
rw_expect_title "Quorvex - $FILE File Size : 12 Bytes ]"
cp "$FILE" "$DOCS/saved"

# Closing with unsaved text asks first; No (the default button) keeps the window and the text.
rw_activate
rw_type "x"
wmctrl -i -c "$RW_WINDOW"
rw_dialog '^Quorvex$'
rw_screenshot files-prompt
rw_key Return
rw_expect_gone '^Quorvex$'
rw_running || rw_fail "the program ended although No was answered"
rw_find '^Quorvex - ' >/dev/null || rw_fail "the main window is gone"
rw_expect_title "Quorvex - $FILE File Size : 12 Bytes ]"
cmp -s "$FILE" "$DOCS/saved" || rw_fail "closing changed the file"

rw_screenshot files
echo "PASS: saved, closing with changes asked and kept the window"
