#!/bin/sh
# The solvers on fixed instances: five small PSPLIB J30 projects with exponential durations
# and with every SCV set to 0.5 and to 2, for the makespan and for the NPV (the NPV runs
# give each task a cost of -3 per time unit of its duration and the dummy end a payoff of
# 1000), and the multi-mode project bench/MM_1.DAT with modules and probabilities of
# success. One process per case: the UDC count, states, peak states held, the solver's
# CPU time and states evaluated per CPU-second from RESULTS.CSV, the peak resident memory
# of the process next to the program's own estimate (peak states x bytes per state / 2^20).
#
# Usage: bench/solver_bench.sh [build dir] [instances] [scvs]
#   e.g. bench/solver_bench.sh build "101 34" "1 0.5"
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_config.sh"
build=${1:-$here/../build}
instances=${2-"101 34 31 85 93"}
scvs=${3-"1 0.5 2"}
data=$here/../../shared/data/j30-rcp
[ -d "$data" ] || data=/work/shared/data/j30-rcp

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# config <file stem> <ext> <number> <OBJ> <OBJ2> <SCV_data> <SCV> <cost> <mode/mod/pts/pms> <rate_data> <IO>
config() {
  bench_config "$build/tervano" PJFileName="$1" PJFileExt="$2" gv_CFG_fnr="$3" gv_CFG_lnr="$3" \
    gv_CFG_mxn_UDC=20000000 gv_CFG_max_mem=4000 gv_CFG_OBJ="$4" gv_CFG_OBJ2="$5" gv_CFG_IO="${11}" \
    gv_CFG_cost_data="$8" gv_CFG_mod_data="$9" gv_CFG_mode_data="$9" gv_CFG_pts_data="$9" \
    gv_CFG_pms_data="$9" gv_CFG_SCV_data="$6" gv_CFG_SCV="$7" gv_CFG_rate_data="${10}"
}

# run <label> <bytes per state> <config args...>
run() {
  label=$1
  bytes=$2
  shift 2
  dir=$work/case
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$work"/input/* "$dir/"
  config "$@" > "$dir/CONFIG.DAT"
  (cd "$dir" && printf '0\n0\n' | /usr/bin/time -f '%M' -o rss.txt "$build/tervano" > console.txt)
  rss=$(cat "$dir/rss.txt")
  awk -F';' -v label="$label" -v bytes="$bytes" -v rss="$rss" '
    NF >= 10 && $1 ~ /^[0-9]+$/ {
      estimate = $6 * bytes / 1048576
      rate = $10 > 0 ? $4 / $10 : 0
      printf "%-22s %8d %10d %9d %9.3f %10.2f %7.2f %9.1f %9.1f  %s\n", label, $3, $4, $6, $10, rate / 1e6, $8, rss / 1024, estimate, $9
    }' "$dir/RESULTS.CSV" | tee -a "$work/lines.txt"
}

mkdir -p "$work/input"
for i in $instances; do
  cp "$data/J30_$i.RCP" "$work/input/"
  # Cost after each duration: -3 per time unit, the dummy end (last line) pays 1000.
  awk -v last="$(wc -l < "$data/J30_$i.RCP")" '
    NR <= 2 { print; next }
    { cost = NR == last ? 1000 : ($1 > 0 ? -3 * $1 : 0); $1 = $1 " " cost; print }' \
    "$data/J30_$i.RCP" > "$work/input/C30_$i.RCP"
done
cp "$here/MM_1.DAT" "$work/input/"

printf '%-22s %8s %10s %9s %9s %10s %7s %9s %9s  %s\n' case UDCs states peak "solve s" "Mstates/s" "UDC s" "RSS MiB" "est MiB" value
for scv in $scvs; do
  for i in $instances; do
    run "J30_$i scv $scv mksp" 8 J30_ .RCP "$i" 1 -1 0 "$scv" 0 0 0 0
  done
done
for scv in $scvs; do
  for i in $instances; do
    run "J30_$i scv $scv npv" 8 C30_ .RCP "$i" 0 -1 0 "$scv" 1 0 0 0
  done
done
run "MM_1 mksp" 8 MM_ .DAT 1 1 -1 1 1 1 1 1 0
run "MM_1 npv" 8 MM_ .DAT 1 0 -1 1 1 1 1 1 0
run "MM_1 npv+mksp" 12 MM_ .DAT 1 0 1 1 1 1 1 1 0
run "MM_1 npv+mksp disk" 12 MM_ .DAT 1 0 1 1 1 1 1 1 1

awk '/ mksp / && !/MM_1/ { n++; sum += $(NF-4) }
  END { if (n) printf "average over the %d J30 makespan cases: %.2f million states per CPU-second\n", n, sum / n }' \
  "$work/lines.txt"
