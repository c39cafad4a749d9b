#!/usr/bin/env bash
# What a screen reader hears over AT-SPI: each search message arrives as a notification that
# appears, named by its text, and as text inserted; the F3 note the same way. A large edit of
# the text is told with its true length.
# Usage: test_accessibility.sh <quorvex binary> <screenshot folder>
# Needs dbus-run-session, at-spi2-core and python3-pyatspi; skipped without them.
if [ -z "${QUORVEX_OWN_BUS:-}" ]; then
    command -v dbus-run-session >/dev/null || { echo "SKIP: dbus-run-session is not installed"; exit 77; }
    # A session bus of its own, with the accessibility bus it starts on demand.
    QUORVEX_OWN_BUS=1 exec dbus-run-session -- bash "$0" "$@" 2>/dev/null
fi
. "$(dirname "$0")/common.sh"
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }
[ -x /usr/libexec/at-spi-bus-launcher ] || { echo "SKIP: at-spi2-core is not installed"; exit 77; }

EVENTS="$RW_TMP/events"
/usr/bin/python3 "$(dirname "$0")/atspi_listen.py" "$EVENTS" 170 &
RW_PIDS+=($!)
rw_wait_for 20 grep -q listening "$EVENTS" || rw_fail "the AT-SPI listener did not start"
# What a screen reader asks for when it starts.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
rw_start "$1"

# The events since the last expect_* call; heard greps them.
HEARD=0
since() { tail -n "+$((HEARD + 1))" "$EVENTS"; }
heard() { since | grep -q "$@"; }

# Waits for the notification named $1 to appear, once, and its text to be inserted.
expect_announced() {
    rw_wait_for 10 heard -xF "object:state-changed:showing|notification|$1|1|0|0|" \
        || rw_fail "no notification '$1' appeared; heard: $(since | grep notification)"
    [ "$(since | grep -c "showing|notification|.*|1|0|0|")" = 1 ] \
        || rw_fail "not heard once: $(since | grep showing)"
    rw_wait_for 5 heard -xF "object:text-changed:insert|notification|$1|0|${#1}|${#1}|$1" \
        || rw_fail "the text of '$1' was not inserted: $(since)"
    HEARD=$(wc -l <"$EVENTS")
}

rw_type "alpha beta"
rw_key ctrl+Home ctrl+f
rw_dialog "^Find$"
rw_type "gamma"
rw_key Return
expect_announced "Not found"
# The same message again is heard again.
rw_key Return
expect_announced "Not found"

rw_key Escape
rw_activate

rw_key ctrl+h
rw_dialog "^Replace$"
rw_key ctrl+a
rw_type "alpha"
rw_key Tab
rw_type "omega"
rw_key alt+a
expect_announced "1 replacement"

# F3 with the dialog hidden: the note below the caret's line is heard, the hidden dialog is not.
rw_key Escape
rw_activate
rw_key ctrl+End F3
expect_announced "Not found"
rw_screenshot accessibility-note

# A large change is told with its true length and no more than the start of its text, both ways:
# a paste, Select All + Delete, and its undo.
expect_changed() {
    local kind=$1 length=$2 carried
    rw_wait_for 10 heard "^object:text-changed:$kind|text|[^|]*|0|$length|" \
        || rw_fail "no $kind of $length told: $(since | grep text-changed | cut -c1-100)"
    carried=$(since | grep "^object:text-changed:$kind|text|" | cut -d'|' -f6)
    [ "$carried" -le 4096 ] || rw_fail "the $kind carried $carried characters"
    HEARD=$(wc -l <"$EVENTS")
}
rw_need xclip
rw_activate
rw_key ctrl+a Delete
HEARD=$(wc -l <"$EVENTS")
for i in $(seq 50000); do printf 'lorem '; done | xclip -selection clipboard
rw_key ctrl+v
expect_changed insert 300000
rw_key ctrl+a Delete
expect_changed delete 300000
rw_key ctrl+z
expect_changed insert 300000

rw_running || rw_fail "the program ended"
echo "PASS: each search message and the note were heard, and large edits told whole, over AT-SPI"
