#!/usr/bin/env bash
# Installs what is missing and builds into build/ (BUILD_DIR overrides).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
    -DFLUXMERE_WERROR="${WERROR:-OFF}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
