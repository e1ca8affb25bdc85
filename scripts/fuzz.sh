#!/usr/bin/env bash
# Builds the libFuzzer targets (clang) and runs each for a set time, one after another in one process
# each. Corpus per target: what earlier runs found (BUILD/fuzz-corpus/<target>, grows across runs),
# seeds made now, and the inputs kept in tests/fuzz_regressions/<target>.
#   scripts/fuzz.sh [BUILD] [SECONDS_PER_TARGET] [TARGET...]
# A crashing input lands in BUILD/fuzz-artifacts/<target>/; copy it into tests/fuzz_regressions/<target>/
# once the fault is fixed. Exits non-zero when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-fuzz}
SECONDS_EACH=${2:-60}
shift $(( $# < 2 ? $# : 2 ))
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
    TARGETS=(fuzz_media fuzz_avi_reader fuzz_ini_file fuzz_jpeg_decode fuzz_frame_order)
fi
# Extra libFuzzer flags, e.g. FUZZ_FLAGS="-max_len=100000".
read -r -a EXTRA <<<"${FUZZ_FLAGS:-}"

if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ is needed (scripts/install-deps.sh installs it)" >&2
    exit 1
fi
if [ ! -f "$BUILD/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTESSARON_FUZZ=ON -DTESSARON_BUILD_TESTS=OFF -DTESSARON_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$BUILD" -j "${JOBS:-2}" --target fuzz_targets

# The build made the seeds (fuzz/make-seeds.sh) beside the targets.
seeds="$BUILD/fuzz-seeds"

# Bounds: a frame file of 64 KiB covers every structure; the media seeds are under 16 KiB; texts need
# little.
declare -A MAXLEN=([fuzz_avi_reader]=65536 [fuzz_media]=32768 [fuzz_ini_file]=4096 [fuzz_jpeg_decode]=16384
                   [fuzz_frame_order]=256)

status=0
summary=()
for t in "${TARGETS[@]}"; do
    corpus="$BUILD/fuzz-corpus/$t"
    artifacts="$BUILD/fuzz-artifacts/$t"
    log="$BUILD/fuzz-logs/$t.log"
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    dirs=("$corpus" "$seeds/$t")
    if [ -d "tests/fuzz_regressions/$t" ]; then dirs+=("tests/fuzz_regressions/$t"); fi
    echo "fuzz: $t for ${SECONDS_EACH}s (log: $log)"
    rc=0
    UBSAN_OPTIONS=print_stacktrace=1 \
    "$BUILD/fuzz/$t" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -timeout=10 \
        -max_len="${MAXLEN[$t]}" -dict="fuzz/$t.dict" -artifact_prefix="$artifacts/" \
        -print_final_stats=1 "${EXTRA[@]}" "${dirs[@]}" >"$log" 2>&1 || rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    units=$(ls "$corpus" | wc -l)
    if [ "$rc" -ne 0 ]; then
        status=1
        summary+=("$t: FOUND A FAULT after ${runs:-?} runs (exit $rc); input in $artifacts, see $log")
        grep -E "^(==[0-9]+==ERROR|SUMMARY|broken expectation|.*runtime error)" "$log" | head -5 >&2 || true
    else
        summary+=("$t: ${runs:-?} runs, no fault, corpus $units inputs")
    fi
done
printf '%s\n' "${summary[@]}"
exit $status
