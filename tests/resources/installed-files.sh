# The files an installation must hold, relative to the prefix; sourced by the install and
# package checks.
installed_files=(
    bin/quorvex
    share/applications/io.github.quorvex.Quorvex.desktop
    share/metainfo/io.github.quorvex.Quorvex.metainfo.xml
    share/icons/hicolor/scalable/apps/quorvex.svg
    share/man/man1/quorvex.1.gz
    share/doc/quorvex/copyright
    share/doc/quorvex/changelog.gz
)
icon_sizes=(16 22 24 32 48 64 128 256)
for size in "${icon_sizes[@]}"; do
    installed_files+=("share/icons/hicolor/${size}x$size/apps/quorvex.png")
done
