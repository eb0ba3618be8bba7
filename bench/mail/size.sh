#!/usr/bin/env bash
# How soon a server with a 10 MB limit refuses a large report: limit
# announced in the EHLO reply, limit checked at MAIL FROM SIZE=, and (the
# peer) a server that offers no SIZE and refuses after the whole upload.
# Builds nothing: pass the build folder configured with
# -DKESTLIN_BUILD_BENCH=ON and the tests on (scripts/bench does both).
#   bench/mail/size.sh [build folder] [MiB]     (default: build/bench 100)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="${1:-$root/build/bench}"
bench="$build/bench/mail/bench_mail"
[ -x "$bench" ] || { echo "no $bench: run scripts/bench" >&2; exit 2; }
"$bench" size "${2:-100}"
