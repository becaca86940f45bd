#!/bin/sh
# Times buildElementaryNetwork on the ten 120-activity benchmark projects with SCV 0.25
# (Erlang-4 chains): a Release build of the library, the timing program, three runs.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTERVANO_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tervano_core >/dev/null
g++ -std=c++20 -O2 -ffp-contract=off -I "$root/src" "$root/bench/elementary_network_build.cpp" \
  "$build/libtervano_core.a" -o "$build/elementary_network_build"
for run in 1 2 3; do
  "$build/elementary_network_build" "$root/../shared/data/j120-rcp" | grep 'buildElementaryNetwork:'
done
