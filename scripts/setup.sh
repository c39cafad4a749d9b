#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12 / Ubuntu), then builds in Release.
# Sourced by run.sh and test.sh; BUILD_DIR is the build folder afterwards.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${QUORVEX_BUILD_DIR:-$ROOT/build}

PACKAGES=(
    # build
    cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
    # real-window tests, screenshots and the clipboard
    xvfb openbox xdotool wmctrl xclip x11-utils imagemagick fonts-dejavu-core
    # what a screen reader hears, over AT-SPI
    dbus at-spi2-core python3-pyatspi
    # telling AT-SPI the true length of large edits, through Qt's own bridge
    qt6-base-private-dev
    # resources, install and packaging checks
    icoutils desktop-file-utils appstream binutils-mingw-w64-x86-64 dpkg-dev file lintian
    # fuzzing the document format
    clang
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

install_missing() {
    local missing=() pkg
    for pkg in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if ! compgen -G '/var/lib/apt/lists/*_Packages' >/dev/null; then
        as_root apt-get update
    fi
    export DEBIAN_FRONTEND=noninteractive
    if ! as_root apt-get install -y --no-install-recommends "${missing[@]}"; then
        # Stale package lists are the usual cause; refresh them once and retry.
        as_root apt-get update
        as_root apt-get install -y --no-install-recommends "${missing[@]}"
    fi
}

build() {
    cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release
    cmake --build "$BUILD_DIR" --parallel "$(nproc 2>/dev/null || echo 2)"
}

install_missing
build
