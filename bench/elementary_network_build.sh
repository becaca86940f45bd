#!/bin/sh
# Times buildElementaryNetwork on the ten 120-activity benchmark projects with SCV 0.25
# (Erlang-4 chains): a Release build, then the timing test three times.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target tervano_tests >/dev/null
for run in 1 2 3; do
  "$build/tervano_tests" --gtest_filter='ElementaryNetworkJ120.*' | grep 'buildElementaryNetwork:'
done
