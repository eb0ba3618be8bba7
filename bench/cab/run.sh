#!/usr/bin/env bash
# Prints the cabinet benchmark's figures. Builds nothing: pass the build folder
# configured with -DKESTLIN_BUILD_BENCH=ON and built (scripts/bench does both).
#   bench/cab/run.sh [build folder]     (default: build/bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="${1:-$root/build/bench}"
bench="$build/bench/cab/kestlin_cab_bench"
[ -x "$bench" ] || { echo "no $bench: run scripts/bench" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" "$work"
