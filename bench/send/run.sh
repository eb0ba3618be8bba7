#!/usr/bin/env bash
# One submission of 100 MiB of generated report files (half text, half
# random binary) against the local test SMTP server, timed per step, next to
# cp, gcab -c -z, openssl enc -rc4 and curl doing the same work in the same
# run; then our peak memory at two sizes. Builds nothing: pass the build
# folder configured with -DKESTLIN_BUILD_BENCH=ON and built (target send_bench).
# Last, the program's own "kestlin --send" of the same files, next to the
# window's submission (in process) in alternating rounds, with its peak memory.
#   bench/send/run.sh [build folder] [MiB] [rounds]   (default: build/bench 100 3)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build/bench}"
mib="${2:-100}"
rounds="${3:-3}"
bench="$build/bench/send/send_bench"
if [ ! -x "$bench" ]; then
  echo "no $bench: configure with -DKESTLIN_BUILD_BENCH=ON and build send_bench" >&2
  exit 2
fi
for tool in cp gcab openssl curl; do
  command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done
scratch="$(mktemp -d /tmp/kestlin-send-bench-XXXXXX)"
trap 'rm -rf "$scratch"' EXIT

echo "One submission vs cp + gcab -c -z + openssl enc -rc4 + curl (goal: total ratio <= 1.1)"
"$bench" compare "$scratch" "$mib" "$rounds"
echo
echo "Peak memory of one submission (goal: < 64 MiB at any size)"
for size in 10 "$mib"; do
  "$bench" memory "$scratch" "$size"
done
echo
echo "kestlin --send vs the window's submission (goal: ratio <= 1.05, peak < 64 MiB)"
kestlin="$build/bin/kestlin"
if [ -x "$kestlin" ]; then
  "$bench" cli "$scratch" "$mib" "$rounds" "$kestlin"
else
  echo "no $kestlin: build the target kestlin too" >&2
  exit 2
fi
