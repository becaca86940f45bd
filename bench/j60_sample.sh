#!/usr/bin/env bash
# The J60 sample: the first instance of each of J60's 48 parameter classes (j601_1 ... j6048_1),
# converted and run through tervano-batch one project at a time (each on every core the program
# is given), each held to a wall-time limit. Prints the merged table's status, #STATES, the peak of
# states held, peak memory, wall and CPU time per project, and for one that did not solve why (for
# a timeout, where it stopped).
#   bench/j60_sample.sh BUILD_DIR SECONDS_PER_PROJECT [EXTRA tervano-batch run ARGS]
#   J60_SAMPLE_CLASSES="1 2 3" picks classes (default all 48).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?build directory}" && pwd)
limit=${2:?seconds per project}
shift 2
work=$(mktemp -d /tmp/tervano-j60-sample.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
for class in ${J60_SAMPLE_CLASSES:-$(seq 48)}; do ln -s "$here/../shared/data/j60/j60${class}_1.sm" "$work/src/"; done
"$here/tools/tervano-psplib" --prefix J60_ --out "$work/series" "$work/src" >/dev/null
"$here/tools/tervano-batch" run "$work/series" --jobs 1 --tervano "$build/tervano" --time-limit "$limit" "$@" >/dev/null
python3 - "$work/series/results.csv" <<'PY'
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], encoding="utf-8")))
keys = ["instance", "status", "#STATES", "MAX #STATES IN MEMORY", "peak_mib", "wall_seconds", "CPU UDC (SEC)", "CPU MAKESPAN (SEC)", "MAKESPAN"]
print(" ".join(f"{k:>18}" for k in keys))
for row in rows:
    # Where a project stopped without solving, why (for a timeout, the work done by then).
    message = f"  {row['message']}" if row.get("message") else ""
    print(" ".join(f"{row.get(k, ''):>18}" for k in keys) + message)
counts = {}
for row in rows:
    counts[row["status"]] = counts.get(row["status"], 0) + 1
print(counts)
PY
