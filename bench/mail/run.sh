#!/usr/bin/env bash
# Builds the mail benchmark (release, with the test servers) and prints its
# figures. Usage: bench/mail/run.sh [MiB]   (default 100)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKESTLIN_BUILD_BENCH=ON -DKESTLIN_BUILD_UI=OFF >/dev/null
cmake --build "$build" -j2 --target bench_mail bsmtp >/dev/null
"$build/bench/mail/bench_mail" "${1:-100}"
