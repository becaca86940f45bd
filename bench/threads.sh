#!/bin/sh
# Identification and solve on one thread against two (--threads): wall time of the process,
# processor seconds of identification and of the solve from RESULTS.CSV (all threads), solve
# CPU-seconds per million states, and peak resident memory. J30_24 at SCV 2 (millions of small
# UDCs) and J60_161, J60_241, J60_281 exponential (tables of tens of millions of states).
#
# Usage: bench/threads.sh [build dir] [thread counts] [cases]
#   e.g. bench/threads.sh build "1 2" "J30_24_scv2 J60_161"    (cases: the labels below; default all)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_config.sh"
build=$(cd "${1:-$here/../build}" && pwd)
counts=${2-"1 2"}
cases=${3-"J30_24_scv2 J60_161 J60_241 J60_281"}
data=$here/../../shared/data
[ -d "$data/j30-rcp" ] || data=/work/shared/data

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run <label> <set> <number> <scv> <threads>
run() {
  dir=$work/case
  rm -rf "$dir"
  mkdir -p "$dir"
  stem=$(echo "$2" | tr 'a-z' 'A-Z')_
  cp "$data/$2-rcp/$stem$3.RCP" "$dir/"
  bench_config "$build/tervano" PJFileName="$stem" PJFileExt=.RCP gv_CFG_fnr="$3" gv_CFG_lnr="$3" \
    gv_CFG_mxn_UDC=100000000 gv_CFG_SCV_data=0 gv_CFG_SCV="$4" > "$dir/CONFIG.DAT"
  (cd "$dir" && printf '0\n0\n' | /usr/bin/time -f '%e %M' -o time.txt "$build/tervano" --threads "$5" > console.txt)
  read -r wall rss < "$dir/time.txt"
  awk -F';' -v label="$1" -v threads="$5" -v wall="$wall" -v rss="$rss" '
    NF >= 10 && $1 ~ /^[0-9]+$/ {
      printf "%-16s %2d %8d %11d %10d %8.1f %9.2f %9.2f %8.3f %8.0f  %s\n", label, threads, $3, $4, $6, wall, $8, $10,
        ($4 > 0 ? $10 / $4 * 1e6 : 0), rss / 1024, $9
    }' "$dir/RESULTS.CSV"
}

printf '%-16s %2s %8s %11s %10s %8s %9s %9s %8s %8s  %s\n' case thr UDCs states peak "wall s" "CPU id s" \
  "CPU sol s" "s/Mstate" "RSS MiB" makespan
for case in "J30_24_scv2 j30 24 2" "J60_161 j60 161 1" "J60_241 j60 241 1" "J60_281 j60 281 1"; do
  set -- $case
  case " $cases " in *" $1 "*) ;; *) continue ;; esac
  for t in $counts; do run "$1" "$2" "$3" "$4" "$t"; done
done
