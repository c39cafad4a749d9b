#!/bin/bash
# The manual page formats without a warning and names every shortcut of the menus.
# Usage: check-manpage.sh PAGE WINDOW_DESCRIPTION_SOURCE    Exits 77 without man.
set -euo pipefail
page=$1
design=$2
command -v man >/dev/null || { echo "SKIP: man (man-db) not found"; exit 77; }
warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
[[ -z $warnings ]] || { echo "FAIL: $warnings"; exit 1; }
status=0
# Menu items are written item(name, caption, shortcut, handler).
shortcuts=$(sed -nE 's/.*item\(u"[^"]*"_s, u"[^"]*"_s, u"([^"]+)"_s.*/\1/p' "$design" | sort -u)
[[ -n $shortcuts ]] || { echo "FAIL: no shortcut found in $design"; exit 1; }
for key in $shortcuts; do
    grep -q "\"$key " "$page" || { echo "FAIL: the page does not name $key"; status=1; }
done
[[ $status == 0 ]] && echo "$(wc -w <<<"$shortcuts") shortcuts named"
exit $status
