#!/usr/bin/env bash
# make test-cluster: tessaron-cli batch run for real by the engines people use. 12 short clips (one of
# them damaged) and a manifest; the batch as a Slurm job array of 4 shards on a private single-node
# Slurm (sbatch --array=0-3 --wait); every video done exactly once, the damaged one failed; run again,
# every video skipped; then the same with GNU parallel (--joblog, --resume-failed) into a fresh folder,
# with the same picks.
# Usage: test-cluster.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: test-cluster.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
cli="$build/cli/tessaron-cli"
work=$(mktemp -d "${TMPDIR:-/tmp}/tessaron-cluster.XXXXXX")
chmod 755 "$work"
slurm="$work/slurm"
cleanup() { bash "$here/stop-slurm.sh" "$slurm"; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "test-cluster: FAIL: $*" >&2; exit 1; }
start=$(date +%s)

# The clips: 2 s at 10 fps, each its own pattern; clip 7 cut off after its first kilobytes.
mkdir -p "$work/clips"
for i in $(seq 1 12); do
  ffmpeg -v error -f lavfi -i "testsrc2=size=160x120:rate=10:duration=2,hue=h=$((i * 30))" \
    -c:v libx264 -g 5 -pix_fmt yuv420p "$work/clips/clip$i.mp4"
done
head -c 1500 "$work/clips/clip7.mp4" > "$work/clips/damaged.mp4"
rm "$work/clips/clip7.mp4"
{
  echo "path,id,from,to"
  for i in $(seq 1 12); do
    if [ "$i" = 7 ]; then echo "$work/clips/damaged.mp4,,,"
    elif [ "$i" = 3 ]; then echo "$work/clips/clip$i.mp4,camera-three,5,15"
    else echo "$work/clips/clip$i.mp4,,,"; fi
  done
} > "$work/videos.csv"
rule=(--best 2 --min-gap 3 --score sharpness)

# Checks a run's JSON lines: every video of the manifest exactly once, with the statuses asked for.
check_lines() {  # lines-file expected-status-of-good-videos expected-status-of-damaged
  python3 - "$work/videos.csv" "$@" <<'PY'
import csv, json, sys
manifest, lines, good, damaged = sys.argv[1:5]
paths = [row["path"] for row in csv.DictReader(open(manifest))]
seen = {}
for line in open(lines):
    j = json.loads(line)
    if j["path"] in seen:
        sys.exit("done twice: " + j["path"])
    seen[j["path"]] = j
missing = [p for p in paths if p not in seen]
if missing or len(seen) != len(paths):
    sys.exit("not done: %s" % missing)
for p, j in seen.items():
    want = damaged if p.endswith("damaged.mp4") else good
    if j["status"] != want:
        sys.exit("%s: %s, not %s (%s)" % (p, j["status"], want, j["error"]))
    if p.endswith("damaged.mp4") and not j["error"]:
        sys.exit("the damaged video has no error")
print("%d videos, each once" % len(seen))
PY
}

# The picks of every video's result.json, one line each.
picks() {
  python3 - "$1" <<'PY'
import json, os, sys
root = sys.argv[1]
for name in sorted(os.listdir(root)):
    r = json.load(open(os.path.join(root, name, "result.json")))
    print(name, r["status"], [p["frame"] for p in r.get("picked", [])])
PY
}

# 1. A Slurm job array of 4 shards.
bash "$here/start-slurm.sh" "$slurm"
# shellcheck disable=SC1091
. "$slurm/env"
cat > "$work/batch.sbatch" <<JOB
#!/bin/bash
#SBATCH --job-name=tessaron-batch
#SBATCH --cpus-per-task=1
#SBATCH --output=$work/logs/%x-%a.out
#SBATCH --error=$work/logs/%x-%a.err
exec "$cli" batch --manifest "$work/videos.csv" -o "$work/out" ${rule[*]}
JOB
run_array() {
  rm -rf "$work/logs"; mkdir -p "$work/logs"
  local status=0
  sbatch --array=0-3 --wait --quiet "$work/batch.sbatch" || status=$?
  cat "$work"/logs/*.out > "$work/$1.lines"
  return $status
}
if run_array slurm-first; then fail "the array succeeded although one video is damaged"; fi
[ "$(grep -l damaged "$work"/logs/*.out | wc -l)" = 1 ] || fail "the damaged video is not in exactly one shard"
check_lines "$work/slurm-first.lines" ok failed || fail "first Slurm run"
[ "$(ls "$work/out" | wc -l)" = 12 ] || fail "not 12 result folders: $(ls "$work/out")"
[ -z "$(ls -A "$work/out" | grep '^\.')" ] || fail "staging folders left in out/"
run_array slurm-again || fail "the second Slurm run did not exit 0: $(cat "$work"/logs/*.err)"
check_lines "$work/slurm-again.lines" skipped skipped || fail "second Slurm run"
bash "$here/stop-slurm.sh" "$slurm"
unset SLURM_CONF

# 2. GNU parallel, 4 shards 2 at a time, into a fresh folder; the failed shard again with --resume-failed.
par() {
  parallel --joblog "$work/jobs.log" "$@" -j2 "$cli" batch --manifest "$work/videos.csv" -o "$work/out-parallel" \
    "${rule[@]}" --shard {}/4 ::: 0 1 2 3
}
status=0
par > "$work/parallel-first.lines" || status=$?
[ "$status" = 1 ] || fail "parallel: $status jobs failed, not 1"
check_lines "$work/parallel-first.lines" ok failed || fail "first parallel run"
status=0
par --resume-failed > "$work/parallel-again.lines" || status=$?
[ "$status" = 0 ] || fail "parallel --resume-failed: $status jobs failed"
# Only the shard with the damaged video runs again, and finds its 3 videos done.
[ "$(wc -l < "$work/parallel-again.lines")" = 3 ] || fail "--resume-failed ran more than the failed shard"
[ "$(grep -c '"status":"skipped"' "$work/parallel-again.lines")" = 3 ] || fail "the failed shard redid videos"
[ "$(picks "$work/out")" = "$(picks "$work/out-parallel")" ] || fail "Slurm and parallel picked differently"

echo "test-cluster: 12 videos, 4 shards: Slurm array and GNU parallel alike, each video once, the damaged" \
  "one failed, reruns skipped ($(($(date +%s) - start)) s)"
