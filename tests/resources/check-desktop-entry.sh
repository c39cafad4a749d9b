#!/bin/bash
# desktop-file-validate accepts the desktop entry without a remark, and the entry names the
# installed program and icon and claims no media type.
# Usage: check-desktop-entry.sh DESKTOP_FILE    Exits 77 without desktop-file-validate.
set -euo pipefail
desktop=$1
command -v desktop-file-validate >/dev/null \
    || { echo "SKIP: desktop-file-validate (desktop-file-utils) not found"; exit 77; }
# Hints count too: one says that the entry has no main category and would be hidden away.
out=$(desktop-file-validate "$desktop" 2>&1) && [[ -z $out ]] || { echo "FAIL: $out"; exit 1; }
status=0
for line in Type=Application Name=Quorvex Exec=quorvex Icon=quorvex; do
    grep -qx "$line" "$desktop" || { echo "FAIL: no line $line"; status=1; }
done
grep -Eq '^Categories=(.*;)?TextEditor;' "$desktop" || { echo "FAIL: not in category TextEditor"; status=1; }
# The program opens no file it is given, so file managers must not offer it for any.
! grep -q '^MimeType=' "$desktop" || { echo "FAIL: claims media types: $(grep '^MimeType=' "$desktop")"; status=1; }
exit $status
