#!/usr/bin/env bash
# Builds the cabinet benchmark (release) and prints its figures.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTLIN_BUILD_BENCH=ON \
  -DKESTLIN_BUILD_TESTS=OFF -DKESTLIN_BUILD_UI=OFF >/dev/null
cmake --build "$build" -j2 --target kestlin_cab_bench cab32 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/cab/kestlin_cab_bench" "$work"
