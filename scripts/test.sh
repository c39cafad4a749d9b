#!/usr/bin/env bash
# Installs what is missing, builds in Release and runs every test: unit, widget, real-window.
. "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$BUILD_DIR"
ctest --output-on-failure --timeout 600 "$@"
