#!/bin/bash
# cmake --install into a temporary prefix puts the program, the desktop entry, the metainfo, the
# documents and every icon where desktops look for them (each PNG's own size is the identity test's).
# Then cpack -G DEB makes a Debian package of the build: the same files under /usr, its control
# fields, the changelog's last entry as its version, and no lintian error or warning.
# Usage: check-install.sh BUILD_DIR PROGRAM RELEASE_VERSION (major.minor.patch)    Run after the build.
# The package is left out without dpkg-deb.
set -euo pipefail
build=$1
program=$2
version=$3
[[ -x $program ]] || { echo "FAIL: $program is not built; build before running the tests"; exit 1; }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cmake --install "$build" --prefix "$out/usr" >"$out/install.log" 2>&1 || { cat "$out/install.log"; exit 1; }

icon_sizes=(16 22 24 32 48 64 128 256)
files=(
    bin/quorvex
    share/applications/io.github.quorvex.Quorvex.desktop
    share/metainfo/io.github.quorvex.Quorvex.metainfo.xml
    share/icons/hicolor/scalable/apps/quorvex.svg
    share/man/man1/quorvex.1.gz
    share/doc/quorvex/copyright
    share/doc/quorvex/changelog.gz
)
for size in "${icon_sizes[@]}"; do
    files+=("share/icons/hicolor/${size}x$size/apps/quorvex.png")
done
status=0
for file in "${files[@]}"; do
    [[ -f $out/usr/$file ]] || { echo "FAIL: $file not installed"; status=1; }
done
[[ -x $out/usr/bin/quorvex ]] || { echo "FAIL: bin/quorvex is not executable"; status=1; }
command -v dpkg-deb >/dev/null || { echo "dpkg-deb not found: no package made"; exit $status; }

# The package and cpack's staging go to the temporary folder, not into the build.
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out/deb" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log"
    exit 1
fi
debs=("$out"/deb/*.deb)
[[ ${#debs[@]} == 1 && -f ${debs[0]} ]] || { echo "FAIL: cpack made no single .deb"; cat "$out/cpack.log"; exit 1; }
deb=${debs[0]}
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in "${files[@]}"; do
    grep -qx "./usr/$file" <<<"$contents" || { echo "FAIL: the package lacks /usr/$file"; status=1; }
done
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == quorvex ]] || { echo "FAIL: package name $(field Package)"; status=1; }
[[ $(field Version) == "$version" ]] || { echo "FAIL: version $(field Version)"; status=1; }
[[ $(field Section) == editors ]] || { echo "FAIL: section $(field Section)"; status=1; }
for menu in File Edit Search View; do
    grep -q "the $menu menu" <<<"$(field Description)" || { echo "FAIL: the description does not name the $menu menu"; status=1; }
done
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
[[ $status == 0 ]] && echo "installed ${#files[@]} files; $(basename "$deb"): $(wc -l <<<"$contents") entries"
exit $status
