#!/usr/bin/env bash
# Builds with warnings as errors and runs every test through CTest.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
WERROR=ON "$root/scripts/build.sh" -DBUILD_TESTING=ON
cd "${BUILD_DIR:-$root/build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
