#!/usr/bin/env bash
# One task of a submission past one machine, as GNU parallel (sweep-parallel.sh) or a Slurm
# array (sweep-slurm.sbatch) runs it: plays the share of task INDEX (counted from 0) of the
# submission in DIR with the submission's options, on headless instances of its own, and
# writes its CSV to DIR/csv/TASK.csv only when every run was played and recorded. Exits 1 with
# a message when anything fails; every wait is bounded.
#
# Usage: sweep-task.sh DIR INDEX [--instances N] [--work-dir FOLDER]
# Environment: FLUXMERE_EXE (default: build/fluxmere of this checkout).
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: sweep-task.sh DIR INDEX [--instances N] [--work-dir FOLDER]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
dir=$1 index=$2
shift 2
exec python3 "$here/sweep.py" --task "$dir" "$index" "$@"
