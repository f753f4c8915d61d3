#!/usr/bin/env bash
# Builds and starts the program. Without a display it runs headless, waiting for a model.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh"
exec "${BUILD_DIR:-$root/build}/fluxmere" "$@"
