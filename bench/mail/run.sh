#!/usr/bin/env bash
# Prints the mail benchmark's figures. Builds nothing: pass the build folder
# configured with -DKESTLIN_BUILD_BENCH=ON and the tests on (for the test
# servers), and built (scripts/bench does both).
#   bench/mail/run.sh [build folder] [MiB]     (default: build/bench 100)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="${1:-$root/build/bench}"
bench="$build/bench/mail/bench_mail"
[ -x "$bench" ] || { echo "no $bench: run scripts/bench" >&2; exit 2; }
"$bench" "${2:-100}"
echo
"$root/bench/mail/size.sh" "$build" "${2:-100}"
