#!/usr/bin/env bash
# Where the system gives huge pages only on request, the program runs with the C library asking
# for them, restarted once as the same process; a setting of the user's own is left as it is.
# Usage: test_start.sh <quorvex binary> <screenshot folder>
. "$(dirname "$0")/common.sh"
grep -q '\[madvise\]' /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null || {
    echo "SKIP: this system does not give huge pages on request"
    exit 77
}
tunables() { tr '\0' '\n' <"/proc/$RW_APP_PID/environ" | sed -n 's/^GLIBC_TUNABLES=//p'; }

unset GLIBC_TUNABLES
rw_start "$1"
[ "$(tunables)" = "glibc.malloc.hugetlb=1" ] || rw_fail "started with GLIBC_TUNABLES='$(tunables)'"

kill "$RW_APP_PID"
export GLIBC_TUNABLES=glibc.malloc.hugetlb=0
rw_launch "$1"
[ "$(tunables)" = "glibc.malloc.hugetlb=0" ] || rw_fail "the user's setting became '$(tunables)'"
echo "PASS: asked for huge pages, and kept the user's own setting"
