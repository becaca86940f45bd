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
# Long cases (the fifth and later arguments: "wide:Pat141", "j60:8") run automatic with
# gv_CFG_max_mem 16000 (DISK_BENCH_MAX_MEM) on one thread under nice -n 10 for a fixed
# time each (DISK_BENCH_SECONDS, default 240; DISK_BENCH_J60_SECONDS for J60, default 720), are
# stopped by SIGINT and report what the progress file showed by then: UDCs and states swept of
# the totals, the solve's seconds so far and its own estimate of the rest; under an address
# space limit of DISK_BENCH_AS_GB (default 20) so that a UDC that alone does not fit fails
# instead of pressing the machine.
#
# Usage: bench/disk_storage.sh [build dir] [J30 cases] [RG30 instances] [seconds per RG30 case]
#                              [long cases...]
#   e.g. bench/disk_storage.sh build "memory disk auto" "Pat88" 300
#        bench/disk_storage.sh build "" "" 0 wide:Pat141 wide:Pat58 j60:8
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_config.sh"
build=$(cd "${1:-$here/../build}" && pwd)
cases=${2-"memory disk auto"}
rg30=${3-}
limit=${4:-300}
if [ $# -ge 4 ]; then shift 4; else set --; fi
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

# long <label> <project dir> <stem> <ext> <number> <SCV> <max_mem> <seconds>
long() {
  label=$1
  dir=$work/$label
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$2/$3$5$4" "$dir/"
  bench_config "$build/tervano" PJFileName="$3" PJFileExt="$4" gv_CFG_fnr="$5" gv_CFG_lnr="$5" \
    gv_CFG_SCV="$6" gv_CFG_IO=-1 gv_CFG_max_mem="$7" gv_bits=32 gv_CFG_mxn_UDC=100000000 > "$dir/CONFIG.DAT"
  (cd "$dir" && sh -c '
      # The progress file is removed when the run ends: a copy of every new line, with its time.
      ( while [ ! -e done.flag ]; do
          if [ -s progress-file.txt ]; then
            line=$(cat progress-file.txt 2>/dev/null)
            [ "$line" = "$last" ] || { echo "$(date +%s) $line" >> progress-log.txt; last=$line; }
          fi
          sleep 1
        done ) &
      start=$(date +%s)
      printf "0\n0\n" | timeout -s INT "$1" prlimit --as=$(($3 * 1073741824)) nice -n 10 \
        /usr/bin/time -f "%e %U %S %M" -o time.txt "$2" --threads 1 --progress-file progress-file.txt \
        > console.txt 2> stderr.txt || true
      touch done.flag
      wait
      echo "$start" > start.txt
      cat /proc/$$/io > io.txt' sh "$8" "$build/tervano" "${DISK_BENCH_AS_GB:-20}")
  awk -v label="$label" '
    FILENAME ~ /start.txt$/ { start = $1 }
    FILENAME ~ /time.txt$/ && NF == 4 { wall = $1; cpu = $2 + $3; rss = $4 / 1024 }
    FILENAME ~ /io.txt$/ { io[$1] = $2 }
    FILENAME ~ /progress-log.txt$/ {
      for (i = 2; i <= NF; ++i) { split($i, kv, "="); f[kv[1]] = kv[2] }
      if (f["phase"] == "identify") { identified = f["states"]; identifiedUdcs = f["udcs_done"]; identifyEnd = $1 }
      if (f["phase"] == "solve") {
        if (solveStart == "") solveStart = $1
        udcs = f["udcs_done"]; udcTotal = f["udcs_total"]; swept = f["states"]; eta = f["eta_seconds"]
        total = f["states"] + (f["eta_seconds"] > 0 ? f["eta_seconds"] * f["states_per_second"] : 0)
        last = $1
      }
    }
    FILENAME ~ /console.txt$/ && match($0, /NR_UDC: [0-9]+ CPU\[[0-9.]+\]/) { identifiedAll = substr($0, RSTART, RLENGTH) }
    FILENAME ~ /RESULTS.CSV$/ && $0 ~ /^[0-9]/ { n = split($0, r, ";"); states = r[4]; value = r[9]; solve = r[10] }
    END {
      if (value != "") { swept = states; total = states; udcs = udcTotal }
      printf "%-14s wall %6.0f s CPU %6.0f s peak %6.0f MiB written %7.0f MiB read %7.0f MiB device %7.0f MiB\n", label, wall, cpu,
        rss, io["wchar:"] / 1048576, io["rchar:"] / 1048576, io["write_bytes:"] / 1048576
      if (solveStart == "" && value == "")
        printf "    %s: %s states in %s UDCs by %s s%s\n", (identifiedAll == "" ? "identification not finished" : "identified, the solve not yet shown"),
          identified, identifiedUdcs, identifyEnd - start, (identifiedAll == "" ? "" : " (" identifiedAll ")")
      else
        printf "    identified %s states by %s s; solve from %s s: %s of %s UDCs, %s of ~%.0f states (%.2f %%) by %s s, its estimate of the rest %s s%s\n",
          identified, identifyEnd - start, solveStart - start, udcs, udcTotal, swept, total,
          (total > 0 ? 100 * swept / total : 0), last - start, eta, (value == "" ? "" : "; value " value ", solve " solve " s")
    }' "$dir/start.txt" "$dir/time.txt" "$dir/io.txt" "$dir/progress-log.txt" "$dir/console.txt" "$dir/RESULTS.CSV" 2>/dev/null
  tail -2 "$dir/console.txt" | tr -d '\r' | grep . | sed 's/^/    console: /' | cut -c1-200
  tr '\r' '\n' < "$dir/stderr.txt" | grep -v '^\[' | grep . | tail -2 | sed 's/^/    stderr: /'
  leftover=$(find "$dir" -name 'tervano-states-*' | wc -l)
  [ "$leftover" -eq 0 ] || echo "    $leftover state directories left behind"
}

for c in "$@"; do
  case $c in
    wide:Pat*) number=${c#wide:Pat}
      long "rg30-Pat$number" "$data/rg30/set1" Pat .rcp "$number" 1 "${DISK_BENCH_MAX_MEM:-16000}" "${DISK_BENCH_SECONDS:-240}" ;;
    j60:*) number=${c#j60:}
      long "j60-$number" "$data/j60-rcp" J60_ .RCP "$number" 1 "${DISK_BENCH_MAX_MEM:-16000}" "${DISK_BENCH_J60_SECONDS:-720}" ;;
  esac
done
