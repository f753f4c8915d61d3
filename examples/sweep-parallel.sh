#!/usr/bin/env bash
# A sweep with GNU parallel: one task per adjustment share, each an independent headless
# instance with its own data folder and port (sweep-task.sh), the CSVs gathered into one.
# On several machines that see this folder, add e.g. --sshloginfile nodes.txt to the
# parallel line; nothing else changes, as the instances share nothing.
#
# Usage: examples/sweep-parallel.sh [OUTPUT.csv]
# Environment: SHARES ("0.25 0.5 0.75 1"), RUNS (10), PERIODS (100), JOBS (one per core),
# WORK_DIR (sweep-work), FLUXMERE_EXE, BATCH_PAUSE_MS (see sweep-task.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
output=${1:-sweep.csv}
work=${WORK_DIR:-sweep-work}
mkdir -p "$work"
# shellcheck disable=SC2086 # the shares are a blank-separated list
parallel --halt now,fail=1 --jobs "${JOBS:-100%}" --keep-order \
    "$here/sweep-task.sh" {} "$work" "${RUNS:-10}" "${PERIODS:-100}" \
    ::: ${SHARES:-0.25 0.5 0.75 1} | awk 'NR == 1 || !/^share,/' >"$output"
echo "sweep-parallel: wrote $output" >&2
