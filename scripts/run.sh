#!/usr/bin/env bash
# Builds and starts the program. Without a display it runs headless, waiting for a model.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    echo "No display: running headless (Qt offscreen platform)."
fi
exec "${BUILD_DIR:-$root/build}/fluxmere" "$@"
