#!/bin/sh
# UDC identification on a fixed set of PSPLIB J30 projects (exponential durations, only
# resource data on), with no solver run: per project the UDC count, total and peak states
# and the identification time from RESULTS.CSV, then states visited per second overall.
#
# Usage: bench/udc_identification.sh [build dir] [first] [last]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_config.sh"
build=$(cd "${1:-$here/../build}" && pwd)
first=${2:-1}
last=${3:-10}
data=$here/../../shared/data/j30-rcp
[ -d "$data" ] || data=/work/shared/data/j30-rcp

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
i=$first
while [ "$i" -le "$last" ]; do
  cp "$data/J30_$i.RCP" "$work/"
  i=$((i + 1))
done

bench_config "$build/tervano" PJFileName=J30_ PJFileExt=.RCP gv_CFG_fnr="$first" \
  gv_CFG_lnr="$last" gv_CFG_mxn_UDC=10000000 gv_CFG_max_mem=1000 gv_CFG_OBJ=0 gv_CFG_OBJ2=0 \
  > "$work/CONFIG.DAT"

(cd "$work" && printf '0\n0\n' | "$build/tervano" > console.txt)

# RESULTS.CSV: project; #ACT; #UDC; #STATES; #ENTRY STATES; MAX #STATES IN MEMORY; MAX UDC SIZE; CPU UDC
awk -F';' '
  NR == 1 { next }
  NF >= 8 && $1 ~ /^[0-9]+$/ {
    printf "J30_%-4s UDCs %6d  states %9d  peak %8d  max members %2d  %8.3f s\n", $1, $3, $4, $6, $7, $8
    states += $4; seconds += $8
  }
  END { if (seconds > 0) printf "total states %d in %.3f s: %.2f million states per second\n", states, seconds, states / seconds / 1e6 }
' "$work/RESULTS.CSV"
