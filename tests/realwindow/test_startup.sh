#!/usr/bin/env bash
# Starts the program as a person would and checks the blank-document title survives typing.
# Usage: test_startup.sh <quorvex binary> <screenshot folder>
. "$(dirname "$0")/common.sh"
RW_SHOT_DIR=${2:-.}
rw_start "$1"

rw_expect_title "Quorvex - Blank.txt"
rw_type "Hello, world"
rw_key Return
rw_type "second line"
rw_running || rw_fail "the program ended while typing"
rw_expect_title "Quorvex - Blank.txt"
rw_screenshot startup
echo "PASS: window shown, typed, title unchanged"
