#!/usr/bin/env bash
# make bench: run every benchmark program that was built; each prints its ratios to a reference tool,
# measured in the same run (alternating rounds, median and range). At the end the rows a benchmark
# marks for the README ("README| ...") come out as the README's table, with the machine's load.
set -uo pipefail
build="$1"
status=0
rows=$(mktemp)
trap 'rm -f "$rows"' EXIT
loadBefore=$(cut -d' ' -f1-3 /proc/loadavg)
for b in "$build"/bench/*/bench_* "$build"/bench/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" | tee >(grep '^README|' | sed 's/^README//' >>"$rows")
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
done
sleep 1
echo
echo "== for the README: load average (1, 5, 15 min) $loadBefore before, $(cut -d' ' -f1-3 /proc/loadavg) after, on $(nproc) processors"
echo
echo "| benchmark (program in \`build/bench/\`) | result: median (range) of the rounds |"
echo "|---|---|"
cat "$rows"
exit $status
