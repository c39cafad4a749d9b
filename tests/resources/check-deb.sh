#!/bin/bash
# cpack -G DEB makes a Debian package of the build; dpkg-deb lists the program, the desktop
# entry, the metainfo, the icons and the documents under /usr, and its control fields; the
# changelog's last entry is the package's version, and lintian has no error or warning.
# Usage: check-deb.sh BUILD_DIR PROGRAM PROJECT_VERSION    Run after the build.
# Exits 77 (skipped) without dpkg-deb.
set -euo pipefail
build=$1
program=$2
version=$3
command -v dpkg-deb >/dev/null || { echo "SKIP: dpkg-deb not found"; exit 77; }
[[ -x $program ]] || { echo "FAIL: $program is not built; build before running the tests"; exit 1; }
source "$(dirname "$0")/installed-files.sh"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# The package and cpack's staging go to the temporary folder, not into the build.
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log"
    exit 1
fi
debs=("$out"/*.deb)
[[ ${#debs[@]} == 1 && -f ${debs[0]} ]] || { echo "FAIL: cpack made no single .deb"; cat "$out/cpack.log"; exit 1; }
deb=${debs[0]}

status=0
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in "${installed_files[@]}"; do
    grep -qx "./usr/$file" <<<"$contents" || { echo "FAIL: the package lacks /usr/$file"; status=1; }
done
IFS=. read -r major minor patch _ <<<"$version"
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == quorvex ]] || { echo "FAIL: package name $(field Package)"; status=1; }
[[ $(field Version) == "$major.${minor:-0}.${patch:-0}" ]] || { echo "FAIL: version $(field Version)"; status=1; }
[[ $(field Section) == editors ]] || { echo "FAIL: section $(field Section)"; status=1; }
# Without its Qt libraries among the dependencies the package installs but does not start.
grep -q libqt6widgets6 <<<"$(field Depends)" || { echo "FAIL: depends on '$(field Depends)'"; status=1; }
changelog=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/quorvex/changelog.gz | gzip -dc | head -n 1)
[[ $changelog == "quorvex ($(field Version))"* ]] || { echo "FAIL: the changelog begins '$changelog'"; status=1; }
# Informational tags (hardening suggestions and the like) do not fail it.
if ! command -v lintian >/dev/null; then
    echo "lintian not found: the package was not linted"
elif ! lint=$(lintian --fail-on error,warning "$deb" 2>&1); then
    grep -v 'root privileges' <<<"$lint"
    echo "FAIL: lintian reports the above"
    status=1
fi
[[ $status == 0 ]] && echo "$(basename "$deb"): $(wc -l <<<"$contents") entries; depends on $(field Depends)"
exit $status
