#!/bin/sh
# Identification and solve on one thread against two (--threads): wall time of the process,
# processor seconds of identification and of the solve from RESULTS.CSV (all threads), solve
# CPU-seconds per million states, peak resident memory and system seconds. J30_24 at SCV 2
# (millions of small UDCs), J60_161, J60_241, J60_281 exponential (tables of tens of millions of
# states) and, when named, RG30 set 1 Pat24 (70 UDCs of up to hundreds of millions of states, which
# the threads evaluate together; 14 GB of memory).
#
# Usage: bench/threads.sh [build dir] [thread counts] [cases]
#   e.g. bench/threads.sh build "1 2" "J30_24_scv2 J60_161"    (cases: the labels below; default all)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_config.sh"
build=$(cd "${1:-$here/../build}" && pwd)
counts=${2-"1 2"}
cases=${3-"J30_24_scv2 J60_161 J60_241 J60_281"}  # RG30_Pat24 (14 GB, minutes) only when named
data=$here/../../shared/data
[ -d "$data/j30-rcp" ] || data=/work/shared/data

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run <label> <data dir> <stem> <ext> <number> <scv> <threads>
run() {
  dir=$work/case
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$data/$2/$3$5$4" "$dir/"
  bench_config "$build/tervano" PJFileName="$3" PJFileExt="$4" gv_CFG_fnr="$5" gv_CFG_lnr="$5" \
    gv_CFG_mxn_UDC=100000000 gv_CFG_SCV_data=0 gv_CFG_SCV="$6" gv_bits=32 > "$dir/CONFIG.DAT"
  (cd "$dir" && printf '0\n0\n' | /usr/bin/time -f '%e %M %U %S' -o time.txt "$build/tervano" --threads "$7" > console.txt)
  read -r wall rss user system < "$dir/time.txt"
  awk -F';' -v label="$1" -v threads="$7" -v wall="$wall" -v rss="$rss" -v sys="$system" '
    NF >= 10 && $1 ~ /^[0-9]+$/ {
      printf "%-16s %2d %8d %11d %10d %8.1f %9.2f %9.2f %8.3f %8.0f %7.1f  %s\n", label, threads, $3, $4, $6, wall, $8, $10,
        ($4 > 0 ? $10 / $4 * 1e6 : 0), rss / 1024, sys, $9
    }' "$dir/RESULTS.CSV"
}

printf '%-16s %2s %8s %11s %10s %8s %9s %9s %8s %8s %7s  %s\n' case thr UDCs states peak "wall s" "CPU id s" \
  "CPU sol s" "s/Mstate" "RSS MiB" "sys s" makespan
for case in "J30_24_scv2 j30-rcp J30_ .RCP 24 2" "J60_161 j60-rcp J60_ .RCP 161 1" "J60_241 j60-rcp J60_ .RCP 241 1" \
    "J60_281 j60-rcp J60_ .RCP 281 1" "RG30_Pat24 rg30/set1 Pat .rcp 24 1"; do
  set -- $case
  case " $cases " in *" $1 "*) ;; *) continue ;; esac
  for t in $counts; do run "$1" "$2" "$3" "$4" "$5" "$6" "$t"; done
done
