#!/bin/sh
# What the measures riding along cost: PSPLIB J30 projects at SCV 1 and 0.5, the makespan
# optimised with 1, 2 and 4 objective slots filled (alone; with the makespan variance; with the
# NPV, the makespan variance and the NPV variance) and the NPV optimised likewise (alone; with
# the NPV variance; with the makespan and both variances), plus today's pairs for reference.
# The NPV runs give each task a cost of -3 per time unit of its duration and the dummy end a
# payoff of 1000. One process per case: the solver's CPU time from RESULTS.CSV, its ratio to
# the same objective alone, the process's peak resident memory and the program's estimate
# (peak states x bytes per state / 2^20).
#
# Usage: bench/measure_cost.sh [build dir] [instances] [scvs]
#   e.g. bench/measure_cost.sh build "1 34" "1 0.5"
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_config.sh"
build=$(cd "${1:-$here/../build}" && pwd)
instances=${2-"1 34 101"}
scvs=${3-"1 0.5"}
data=$here/../../shared/data/j30-rcp
[ -d "$data" ] || data=/work/shared/data/j30-rcp

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run <label> <stem> <number> <scv> <cost data> <OBJ> <OBJ2> <OBJ3> <OBJ4> <bytes per state>
run() {
  dir=$work/case
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$work"/input/* "$dir/"
  bench_config "$build/tervano" PJFileName="$2" PJFileExt=.RCP gv_CFG_fnr="$3" gv_CFG_lnr="$3" \
    gv_CFG_mxn_UDC=20000000 gv_CFG_max_mem=8000 gv_CFG_SCV_data=0 gv_CFG_SCV="$4" gv_CFG_cost_data="$5" \
    gv_CFG_OBJ="$6" gv_CFG_OBJ2="$7" gv_CFG_OBJ3="$8" gv_CFG_OBJ4="$9" > "$dir/CONFIG.DAT"
  (cd "$dir" && printf '0\n0\n' | /usr/bin/time -f '%M' -o rss.txt "$build/tervano" > console.txt)
  awk -F';' -v label="$1" -v bytes="${10}" -v rss="$(cat "$dir/rss.txt")" -v base="${base:-0}" '
    NF >= 10 && $1 ~ /^[0-9]+$/ {
      ratio = base > 0 ? $10 / base : 1
      printf "%-34s %9d %9.3f %6.2f %9.1f %9.1f\n", label, $4, $10, ratio, rss / 1024, $6 * bytes / 1048576
    }' "$dir/RESULTS.CSV" | tee -a "$work/lines.txt"
  solve=$(awk -F';' 'NF >= 10 && $1 ~ /^[0-9]+$/ { print $10 }' "$dir/RESULTS.CSV")
}

mkdir -p "$work/input"
for i in $instances; do
  cp "$data/J30_$i.RCP" "$work/input/"
  awk -v last="$(wc -l < "$data/J30_$i.RCP")" '
    NR <= 2 { print; next }
    { cost = NR == last ? 1000 : ($1 > 0 ? -3 * $1 : 0); $1 = $1 " " cost; print }' \
    "$data/J30_$i.RCP" > "$work/input/C30_$i.RCP"
done

printf '%-34s %9s %9s %6s %9s %9s\n' case states "solve s" ratio "RSS MiB" "est MiB"
for scv in $scvs; do
  for i in $instances; do
    base=0
    run "J30_$i scv $scv mksp" J30_ "$i" "$scv" 0 1 -1 -1 -1 8
    base=$solve
    run "J30_$i scv $scv mksp+npv" J30_ "$i" "$scv" 0 1 0 -1 -1 12
    run "J30_$i scv $scv mksp+mkspvar" J30_ "$i" "$scv" 0 1 3 -1 -1 12
    run "J30_$i scv $scv mksp+npv+mkspvar+npvvar" J30_ "$i" "$scv" 0 1 0 3 2 20
    base=0
    run "J30_$i scv $scv npv" C30_ "$i" "$scv" 1 0 -1 -1 -1 8
    base=$solve
    run "J30_$i scv $scv npv+mksp" C30_ "$i" "$scv" 1 0 1 -1 -1 12
    run "J30_$i scv $scv npv+npvvar" C30_ "$i" "$scv" 1 0 2 -1 -1 12
    run "J30_$i scv $scv npv+mksp+npvvar+mkspvar" C30_ "$i" "$scv" 1 0 1 2 3 20
  done
done
