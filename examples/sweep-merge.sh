#!/usr/bin/env bash
# Merges the task outputs of one submission (sweep-parallel.sh, sweep-slurm.sbatch), in the
# order a sweep on one machine writes them: DIR/runs.csv and DIR/periods.csv, and for a
# sweep.py submission DIR/sweep.csv (or OUTPUT). Exits 1, writing nothing, and names every
# task the submission expects (DIR/tasks.txt) that failed or whose output is missing.
#
# Usage: sweep-merge.sh DIR [OUTPUT.csv]
set -euo pipefail
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: sweep-merge.sh DIR [OUTPUT.csv]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
exec "${PYTHON:-/usr/bin/python3}" "$here/sweep.py" --merge "$1" ${2:+--output "$2"}
