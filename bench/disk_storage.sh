#!/bin/sh
# State tables in memory against on disk: one process per case, the solve's wall time, the
# process's CPU time (user + system), its peak resident memory, and the bytes it wrote and
# read (wchar/rchar, write_bytes: what reached the device) from /proc/PID/io, which a shell
# reads after it has reaped the program. Cases: J30_1 at SCV 0.5 (minimal expected makespan)
# in memory (gv_CFG_IO 0), with every table on disk (gv_CFG_IO 1) and automatic with a
# gv_CFG_max_mem far below its estimate (gv_CFG_IO -1), then the given RG30 set 1 instances
# under a time limit each (seconds; a case that hits it shows "timeout" and the share of the
# UDCs swept, read from the progress line).
#
# Usage: bench/disk_storage.sh [build dir] [J30 cases] [RG30 instances] [seconds per RG30 case]
#   e.g. bench/disk_storage.sh build "memory disk auto" "Pat88" 300
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_config.sh"
build=$(cd "${1:-$here/../build}" && pwd)
cases=${2-"memory disk auto"}
rg30=${3-}
limit=${4:-300}
data=$here/../../shared/data
[ -d "$data/j30-rcp" ] || data=/work/shared/data

# The state directory goes into the working directory: keep it on the disk measured.
work=$(mktemp -d "$here/../.disk-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# run <label> <project dir> <stem> <ext> <number> <SCV> <IO> <max_mem> [seconds]
run() {
  label=$1
  dir=$work/$label
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$2/$3$5$4" "$dir/"
  bench_config "$build/tervano" PJFileName="$3" PJFileExt="$4" gv_CFG_fnr="$5" gv_CFG_lnr="$5" \
    gv_CFG_SCV="$6" gv_CFG_IO="$7" gv_CFG_max_mem="$8" gv_bits=32 gv_CFG_mxn_UDC=100000000 > "$dir/CONFIG.DAT"
  seconds=${9:-0}
  (cd "$dir" && sh -c '
      start=$(date +%s.%N)
      if [ "$1" -gt 0 ]; then
        printf "0\n0\n" | timeout -s INT "$1" /usr/bin/time -f "%U %S %M" -o time.txt "$2" > console.txt 2> progress.txt || true
      else
        printf "0\n0\n" | /usr/bin/time -f "%U %S %M" -o time.txt "$2" > console.txt 2> progress.txt
      fi
      end=$(date +%s.%N)
      echo "$start $end" > wall.txt
      cat /proc/$$/io > io.txt' sh "$seconds" "$build/tervano")
  awk -v label="$label" '
    FILENAME ~ /wall.txt$/ { wall = $2 - $1 }
    FILENAME ~ /time.txt$/ && NF == 3 { cpu = $1 + $2; rss = $3 / 1024 }
    FILENAME ~ /io.txt$/ { io[$1] = $2 }
    FILENAME ~ /RESULTS.CSV$/ && $0 ~ /^[0-9]/ { n = split($0, f, ";"); states = f[4]; value = f[9]; solve = f[10] }
    END {
      printf "%-16s %10s %10s %8.1f %8.1f %8.1f %9.0f %9.0f %9.0f %9.0f  %s\n", label, states, value, wall, cpu, solve,
        rss, io["wchar:"] / 1048576, io["write_bytes:"] / 1048576, io["rchar:"] / 1048576, (value == "" ? "timeout" : "")
    }' "$dir/wall.txt" "$dir/time.txt" "$dir/io.txt" "$dir/RESULTS.CSV" 2>/dev/null
  if [ ! -s "$dir/RESULTS.CSV" ] || ! grep -q '^[0-9]' "$dir/RESULTS.CSV"; then
    tr '\r' '\n' < "$dir/progress.txt" | grep . | tail -1 | sed 's/^/    last progress: /'
  fi
  leftover=$(find "$dir" -name 'tervano-states-*' | wc -l)
  [ "$leftover" -eq 0 ] || echo "    $leftover state directories left behind"
}

echo "case             states     value      wall s   CPU s  solve s  peak MiB wchar MiB  dev MiB  rchar MiB"
for c in $cases; do
  case $c in
    memory) run j30-1-memory "$data/j30-rcp" J30_ .RCP 1 0.5 0 100000 ;;
    disk) run j30-1-disk "$data/j30-rcp" J30_ .RCP 1 0.5 1 0 ;;
    auto) run j30-1-auto-20MB "$data/j30-rcp" J30_ .RCP 1 0.5 -1 20 ;;
  esac
done
for p in $rg30; do
  number=${p#Pat}
  run "rg30-$p-disk" "$data/rg30/set1" Pat .rcp "$number" 1 -1 2000 "$limit"
done
