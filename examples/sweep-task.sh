#!/usr/bin/env bash
# One task of a submission past one machine, as GNU parallel (sweep-parallel.sh) or a Slurm
# array (sweep-slurm.sbatch) runs it: plays the runs of task INDEX (counted from 0) of the
# submission in DIR with the submission's options (a command model on headless instances of
# its own), and writes DIR/out/TASK-runs.csv and TASK-periods.csv only when every run was
# played and recorded, else DIR/out/TASK.failed with the reason; the instances' data folders
# are copied to DIR/data/TASK/. Exits 1 with a message when anything fails; SIGTERM ends its
# instances.
#
# Usage: sweep-task.sh DIR INDEX [--instances N] [--work-dir FOLDER]
# Environment: FLUXMERE_EXE (default: the submission's), PYTHON (/usr/bin/python3).
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: sweep-task.sh DIR INDEX [--instances N] [--work-dir FOLDER]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
dir=$1 index=$2
shift 2
exec "${PYTHON:-/usr/bin/python3}" "$here/sweep.py" --task "$dir" "$index" "$@"
