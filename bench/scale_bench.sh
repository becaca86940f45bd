#!/bin/sh
# Identification and solve on fixed instances, one process each, for one or two builds:
# states per CPU-second of identification and of the solve together and of the solve alone,
# the peak resident memory of the process, and what it costs per UDC beyond the value tables
# (peak memory - 12 bytes x peak states - the process's memory before any project, per UDC).
#
# Usage: bench/scale_bench.sh NEW_BINARY [OLD_BINARY] [cases...]
#   cases are names from the list below; default: all of them.
# The instances are the PSPLIB J30 and RanGen RG30 files beside the checkout (../shared/data).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_config.sh"
new=$1
old=${2-}
shift $(( $# >= 2 ? 2 : 1 ))
data=$here/../../shared/data
[ -d "$data/j30-rcp" ] || data=/work/shared/data

# case name, project file stem, number, SCV (1: exponential), gv_bits
cases='
j30-3-exp      j30-rcp/J30_ 3   1   16
j30-5-exp      j30-rcp/J30_ 5   1   16
j30-6-exp      j30-rcp/J30_ 6   1   16
j30-241-exp    j30-rcp/J30_ 241 1   16
j30-361-exp    j30-rcp/J30_ 361 1   16
j30-3-scv0.5   j30-rcp/J30_ 3   0.5 16
j30-24-scv0.5  j30-rcp/J30_ 24  0.5 16
j30-1-scv0.5   j30-rcp/J30_ 1   0.5 16
j30-6-scv2     j30-rcp/J30_ 6   2   16
j30-24-scv2    j30-rcp/J30_ 24  2   16
rg30-pat3      rg30/set1/Pat 3  1   40
rg30-pat4      rg30/set1/Pat 4  1   40
parallel-18-2  parallel/P    1  1   40
'
wanted="$*"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 18 exponential tasks of mean 1 in parallel on one resource of 2 units, one unit each: the
# minimal expected makespan is (18 - 2) / 2 + H(2) = 9.5, with 12.6 million states in one UDC.
mkdir -p "$work/data/parallel"
{
  echo "20 1 2"
  printf '0 0 18'; for a in $(seq 2 19); do printf ' %d' "$a"; done; echo
  for a in $(seq 2 19); do echo "1 1 1 20"; done
  echo "0 0 0"
} > "$work/data/parallel/P1.RCP"

# config <stem> <ext> <number> <SCV> <gv_bits>
config() {
  bench_config "$new" PJFileName="$1" PJFileExt="$2" gv_CFG_fnr="$3" gv_CFG_lnr="$3" \
    gv_CFG_SCV="$4" gv_bits="$5"
}

# The process's resident memory with no project (the configuration and its tables).
baseline() {
  mkdir -p "$work/empty"
  bench_config "$new" gv_CFG_lnr=0 > "$work/empty/CONFIG.DAT"
  (cd "$work/empty" && printf '0\n0\n' | /usr/bin/time -f '%M' -o rss.txt "$1" > /dev/null)
  cat "$work/empty/rss.txt"
}

run() {
  label=$1 binary=$2 name=$3 stem=$4 number=$5 scv=$6 bits=$7 base=$8
  dir=$work/case
  rm -rf "$dir"
  mkdir -p "$dir"
  ext=.RCP
  case $stem in rg30/*) ext=.rcp ;; esac
  root=$data
  case $stem in parallel/*) root=$work/data ;; esac
  config "$root/$stem" "$ext" "$number" "$scv" "$bits" > "$dir/CONFIG.DAT"
  (cd "$dir" && printf '0\n0\n' | /usr/bin/time -f '%M' -o rss.txt "$binary" > console.txt) || true
  rss=$(cat "$dir/rss.txt")
  awk -F';' -v label="$label" -v name="$name" -v rss="$rss" -v base="$base" '
    $1 ~ /^[0-9]+$/ && NF >= 8 {
      if (NF < 10) { printf "%-14s %-4s %9d UDCs  identification failed or no solve (%s s)\n", name, label, $3, $8; next }
      both = $8 + $10
      perUdc = (rss * 1024 - 12 * $6 - base * 1024) / $3
      printf "%-14s %-4s %9d UDCs %11d states %10d peak  %8.2f + %8.2f s  %6.2f M/s  solve %6.2f M/s  %7.1f MiB  %6.1f B/UDC  %s\n",
        name, label, $3, $4, $6, $8, $10, $4 / both / 1e6, $4 / $10 / 1e6, rss / 1024, perUdc, $9
    }' "$dir/RESULTS.CSV"
}

newBase=$(baseline "$new")
oldBase=
[ -n "$old" ] && oldBase=$(baseline "$old")
printf '%-14s %-4s %9s %18s %15s  %21s  %11s  %12s  %11s  %10s  %s\n' case "" UDCs states peak "ident + solve CPU" "both" "solve" "peak RSS" "beyond tables" value
echo "$cases" | while read -r name stem number scv bits; do
  [ -n "$name" ] || continue
  if [ -n "$wanted" ]; then
    case " $wanted " in *" $name "*) ;; *) continue ;; esac
  fi
  [ -n "$old" ] && run before "$old" "$name" "$stem" "$number" "$scv" "$bits" "$oldBase"
  run after "$new" "$name" "$stem" "$number" "$scv" "$bits" "$newBase"
done
