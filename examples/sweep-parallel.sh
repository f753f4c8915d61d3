#!/usr/bin/env bash
# A sweep with GNU parallel: a submission folder of its own under sweep-runs/ (its tasks.txt
# lists one task per share, or with --model/--command the runner's --tasks N), each task
# played by sweep-task.sh (a command model on an independent headless instance with its own
# data folder and port), then the merge (sweep-merge.sh), which fails and names every task
# that failed or left no results. On several machines that see this folder, add e.g.
# --sshloginfile nodes.txt to the parallel line; nothing else changes.
#
# Usage: examples/sweep-parallel.sh [sweep.py options: --shares, --runs, --periods, --setup,
#        --set, --seeds, ...; or python3 -m fluxmere.sweep's: --model or --command, --param,
#        --tasks, ...]
# Environment: RUNS_DIR (sweep-runs), JOBS (one per core), FLUXMERE_EXE, PYTHON (the
# interpreter the module is built for, /usr/bin/python3).
# Writes RUNS_DIR/<submission>/sweep.csv; exit status 0 only when every task has results.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
runs_dir=${RUNS_DIR:-sweep-runs}
mkdir -p "$runs_dir"
dir=$(mktemp -d "$runs_dir/$(date +%Y%m%d-%H%M%S)-XXXX")
"${PYTHON:-/usr/bin/python3}" "$here/sweep.py" --plan "$dir" "$@"
mkdir -p "$dir/logs"
count=$(wc -l <"$dir/tasks.txt")
# Every task runs even when one fails; the merge names the failed ones.
parallel --jobs "${JOBS:-100%}" --halt never \
    "$here/sweep-task.sh" "$dir" {} "2>" "$dir/logs/task-{}.log" ::: $(seq 0 $((count - 1))) || true
exec "$here/sweep-merge.sh" "$dir"
