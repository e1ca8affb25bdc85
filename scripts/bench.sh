#!/usr/bin/env bash
# make bench: run every benchmark program that was built; each prints its ratio to a reference tool.
set -uo pipefail
build="$1"
status=0
for b in "$build"/bench/*/bench_* "$build"/bench/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" || status=1
done
exit $status
