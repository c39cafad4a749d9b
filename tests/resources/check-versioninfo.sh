#!/bin/bash
# Compiles the Windows resource script with the MinGW resource compiler and reads the
# compiled resource back: the version strings, the language block, the numeric version and
# the icon group. Usage: check-versioninfo.sh RC PROJECT_VERSION
# Exits 77 (skipped) without x86_64-w64-mingw32-windres.
set -euo pipefail
rc=$1
version=$2
windres=x86_64-w64-mingw32-windres
command -v $windres >/dev/null || { echo "SKIP: $windres (binutils-mingw-w64-x86-64) not found"; exit 77; }
command -v cpp >/dev/null || { echo "SKIP: cpp, the resource compiler's preprocessor, not found"; exit 77; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The MinGW C compiler is not needed just for this: the host's preprocessor does.
$windres --preprocessor=cpp -i "$rc" -O res -o "$tmp/quorvex.res"
hex=$(od -An -v -tx1 "$tmp/quorvex.res" | tr -d ' \n')

IFS=. read -r major minor patch tweak <<<"$version"
display=$(printf '%d.%02d' "$major" "${minor:-0}")
status=0
fail() {
    echo "FAIL: $*"
    status=1
}
utf16() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n' | sed 's/../&00/g'; }
le32() { printf '%08x' "$1" | sed 's/\(..\)\(..\)\(..\)\(..\)/\4\3\2\1/'; }
# A string entry is its key, a terminating zero, padding to four bytes, then its value: the
# pattern $2, by default any character but NUL.
has_value() { grep -Eq "$(utf16 "$1")0000(0000)?${2:-([0-9a-f][1-9a-f]|[1-9a-f]0)00}" <<<"$hex"; }

has_value FileVersion "$(utf16 "$display")0000" || fail "FileVersion is not \"$display\""
has_value ProductVersion "$(utf16 "$display")0000" || fail "ProductVersion is not \"$display\""
has_value OriginalFilename "$(utf16 quorvex.exe)0000" || fail "OriginalFilename is not \"quorvex.exe\""
for key in CompanyName ProductName InternalName FileDescription; do
    has_value $key || fail "$key is missing or empty"
done
grep -q "$(utf16 StringFileInfo)" <<<"$hex" || fail "no StringFileInfo block"
grep -q "$(utf16 040904B0)0000" <<<"$hex" || fail "no string block \"040904B0\""
# Translation: U.S. English (0x409), Unicode (1200 = 0x4b0).
grep -Eq "$(utf16 Translation)0000(0000)?0904b004" <<<"$hex" || fail "Translation is not 0x409, 1200"

# The fixed part: its signature, the structure version, then file and product version as
# (major << 16 | minor) and (patch << 16 | tweak).
ms=$(le32 $(((major << 16) | ${minor:-0})))
ls=$(le32 $(((${patch:-0} << 16) | ${tweak:-0})))
fixed=$(grep -o 'bd04effe.\{40\}' <<<"$hex" || true)
[[ -n $fixed ]] || fail "no fixed version information"
[[ ${fixed:16:16} == "$ms$ls" ]] || fail "file version words ${fixed:16:16}, expected $ms$ls ($version)"
[[ ${fixed:32:16} == "$ms$ls" ]] || fail "product version words ${fixed:32:16}, expected $ms$ls ($version)"

# One icon group (type 14): the icon file itself, whose three images check-ico.sh checks.
listing=$($windres -i "$tmp/quorvex.res" -O rc)
groups=$(grep -c 'RT_GROUP_ICON' <<<"$listing" || true)
[[ $groups == 1 ]] || fail "$groups icon groups, expected 1"

[[ $status == 0 ]] && echo "version $display ($version), string block 040904B0, one icon group"
exit $status
