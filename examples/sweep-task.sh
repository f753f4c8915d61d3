#!/usr/bin/env bash
# One task of a sweep past one machine, as GNU parallel (sweep-parallel.sh) or a Slurm array
# (sweep-slurm.sbatch) runs it: a headless instance of its own, on a data folder of its own
# and a port the system chooses, played by examples/model.py with one adjustment share.
# Prints the CSV of its runs (header first) on standard output; exits 1 with a message when
# the instance fails. Every wait is bounded.
#
# Usage: sweep-task.sh SHARE WORK_DIR [RUNS [PERIODS]]
# Environment: FLUXMERE_EXE (default: build/fluxmere of this checkout), BATCH_PAUSE_MS (0).
set -euo pipefail
share=$1 work=$2 runs=${3:-10} periods=${4:-100}
here=$(cd "$(dirname "$0")" && pwd)
exe=${FLUXMERE_EXE:-$here/../build/fluxmere}
fail() { echo "sweep-task (share $share): $*" >&2; exit 1; }

mkdir -p "$work"
dir=$(mktemp -d "$work/share-$share.XXXXXX")
"$exe" --data-dir "$dir/data" --init >/dev/null || fail "--init of $dir/data failed"
sed -i -e "s/^MaxTrial = .*/MaxTrial = $periods/" \
    -e "s/^MaxNumberOfAScenarioType = .*/MaxNumberOfAScenarioType = $periods/" \
    "$dir/data/Setup.txt"

QT_QPA_PLATFORM=offscreen "$exe" --port 0 --data-dir "$dir/data" \
    --batch-pause-ms "${BATCH_PAUSE_MS:-0}" >"$dir/stdout.txt" 2>"$dir/stderr.txt" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT
port=
for _ in $(seq 200); do # 20 s to report its port
    port=$(sed -n 's/^Waiting for a model on port \([0-9]*\)\.\r\{0,1\}$/\1/p' "$dir/stdout.txt")
    [ -n "$port" ] || ! kill -0 "$pid" 2>/dev/null && break
    sleep 0.1
done
[ -n "$port" ] || fail "the instance did not start: $(cat "$dir/stderr.txt")"

python3 "$here/model.py" --port "$port" --name "share$share" --alpha "$share" --runs "$runs" \
    --timeout 30 --quiet >/dev/null || fail "the model failed; see $dir"
for _ in $(seq 300); do # 30 s to end after QUIT
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
status=0
kill -0 "$pid" 2>/dev/null && fail "the instance did not end after QUIT"
wait "$pid" || status=$?
[ "$status" -eq 0 ] || fail "the instance ended with status $status: $(cat "$dir/stderr.txt")"
python3 "$here/sweep.py" --from-data "$dir/data/Data.txt" --shares "$share" \
    --periods "$periods" --output -
