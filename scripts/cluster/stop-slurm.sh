#!/usr/bin/env bash
# Stops the Slurm that start-slurm.sh started in DIR (default /tmp/tessaron-slurm): each daemon by the
# pid it wrote, slurmd first, then slurmctld, then munged; then removes DIR.
set -uo pipefail
dir=${1:-/tmp/tessaron-slurm}
[ -d "$dir" ] || exit 0

stop() {  # pid file
  [ -f "$1" ] || return 0
  local pid
  pid=$(cat "$1")
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null
}
for pidfile in "$dir"/run/slurmd-*.pid; do stop "$pidfile"; done
stop "$dir/run/slurmctld.pid"
stop "$dir/run/munged.pid"
rm -rf "$dir"
