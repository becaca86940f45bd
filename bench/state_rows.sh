#!/bin/sh
# Memory per state held and the solve's rate, one binary against another run back to back on
# one thread: the three J60 instances of tens of millions of states held at once (SCV 1, one
# value per state) and J30_24 at SCV 2 (phases drawn by their probability: both values kept).
# Peak resident memory from /usr/bin/time; bytes per held state count the memory beyond the
# first 100 MiB against MAX #STATES IN MEMORY; CPU columns from RESULTS.CSV.
#
# Usage: bench/state_rows.sh <program before> <program after> [rounds]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_config.sh"
before=$1
after=$2
rounds=${3:-1}
data=$here/../../shared/data
[ -d "$data/j60-rcp" ] || data=/work/shared/data

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%-12s %-7s %11s %10s %8s %8s %9s %9s %9s %10s  %s\n' case binary states peak "wall s" "RSS MiB" \
  "B/held" "CPU id s" "CPU sol s" "M st/CPU-s" makespan
for case in "J60_161 j60 161 1" "J60_241 j60 241 1" "J60_281 j60 281 1" "J30_24 j30 24 2"; do
  set -- $case
  stem=$(echo "$2" | tr 'a-z' 'A-Z')_
  rm -rf "$work/case"
  mkdir -p "$work/case"
  cp "$data/$2-rcp/$stem$3.RCP" "$work/case/"
  bench_config "$before" PJFileName="$stem" PJFileExt=.RCP gv_CFG_fnr="$3" gv_CFG_lnr="$3" \
    gv_CFG_mxn_UDC=100000000 gv_CFG_SCV_data=0 gv_CFG_SCV="$4" > "$work/case/CONFIG.DAT"
  round=0
  while [ "$round" -lt "$rounds" ]; do
    for which in before after; do
      if [ "$which" = before ]; then program=$before; else program=$after; fi
      rm -f "$work/case/RESULTS.CSV"
      (cd "$work/case" && printf '0\n0\n' | /usr/bin/time -f '%e %M' -o time.txt "$program" --threads 1 > console.txt)
      read -r wall rss < "$work/case/time.txt"
      awk -F';' -v label="$1" -v which="$which" -v wall="$wall" -v rss="$rss" '
        NF >= 10 && $1 ~ /^[0-9]+$/ {
          held = (rss / 1024 - 100) * 1048576 / $6
          printf "%-12s %-7s %11d %10d %8.1f %8.0f %9.2f %9.2f %9.2f %10.2f  %s\n", label, which, $4, $6, wall,
            rss / 1024, held, $8, $10, $4 / $10 / 1e6, $9
        }' "$work/case/RESULTS.CSV"
    done
    round=$((round + 1))
  done
done
