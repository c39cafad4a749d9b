#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the editor.
. "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
exec "$BUILD_DIR/quorvex" "$@"
