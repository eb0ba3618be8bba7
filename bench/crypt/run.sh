#!/usr/bin/env bash
# Encrypt(0) against `openssl enc -rc4` under the same key, on files of 64 MiB
# and 512 MiB in /tmp (removed afterwards). Builds nothing: pass the build
# folder configured with -DKESTLIN_BUILD_BENCH=ON and built (target crypt_bench).
#   bench/crypt/run.sh [build folder]     (default: build/bench)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build/bench}"
bench="$build/bench/crypt/crypt_bench"
if [ ! -x "$bench" ]; then
  echo "no $bench: configure with -DKESTLIN_BUILD_BENCH=ON and build crypt_bench" >&2
  exit 2
fi
scratch="$(mktemp -d /tmp/kestlin-crypt-bench-XXXXXX)"
trap 'rm -rf "$scratch"' EXIT

echo "Encrypt(0) vs openssl enc -rc4 (goal: time ratio <= 1.2, our peak RSS < 16 MiB at any size)"
for mib in 64 512; do
  head -c "$((mib * 1024 * 1024))" /dev/urandom >"$scratch/input.bin"
  cat "$scratch/input.bin" >/dev/null  # both sides start from a warm cache
  echo "$mib MiB:"
  "$bench" compare "$scratch/input.bin" "$scratch" 3
  rm -f "$scratch/input.bin"
done
