# Tessaron: the two set-up commands (make run, make test) and a few helpers.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= 2
# Tests keep the picture indexes they make in the build folder, not in the user's ~/.cache.
# test-asan: leaks, stack use after return and initialisation order reported; every report fails the test.
SANITIZER_ENV := ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
                 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# test-tsan: every report fails the test (exit status 66); FFmpeg's own internals are suppressed
# (scripts/tsan.supp says why, entry by entry).
TSAN_ENV   := TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(abspath scripts/tsan.supp)
# The programs whose tests start threads: the reader and its read-ahead, the exports, image sets
# (encoder threads), and rank, sort and pick through tessaron-cli. Their tests carry the label "threads".
TSAN_TARGETS := reader_frames_test reader_index_cache_test test_frame_export test_frame_score \
                test_image_files test_image_sets test_ops_cli tessaron-cli
SAMPLE     := $(BUILD)/sample/sample.avi

.PHONY: all deps configure build run test test-asan test-tsan test-cluster lint bench fuzz clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

configure: deps $(BUILD)/build.ninja

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

$(SAMPLE): | build
	@bash scripts/make-sample.sh $(SAMPLE)

run: build $(SAMPLE)
	@bash scripts/run.sh $(BUILD) $(SAMPLE)

test: build
	@cd $(BUILD) && XDG_CACHE_HOME=$(abspath $(BUILD))/test-cache QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSARON_SANITIZE=ON -DTESSARON_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && XDG_CACHE_HOME=$(abspath $(ASAN_BUILD))/test-cache QT_QPA_PLATFORM=offscreen $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

# The tests that exercise threads, under ThreadSanitizer (only their programs are built).
test-tsan: deps
	@cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARON_TSAN=ON -DTESSARON_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TARGETS)
	@cd $(TSAN_BUILD) && XDG_CACHE_HOME=$(abspath $(TSAN_BUILD))/test-cache $(TSAN_ENV) ctest -L threads --output-on-failure -j $(JOBS)

# tessaron-cli batch under a private single-node Slurm (installed and started by the script, stopped
# after) and under GNU parallel; about half a minute.
test-cluster: configure
	@cmake --build $(BUILD) -j $(JOBS) --target tessaron-cli
	@bash scripts/cluster/test-cluster.sh $(BUILD)

# The layers (no folder includes one above it, no cycle) and the .clang-format style.
lint: deps
	@python3 scripts/check-layers.py
	@bash scripts/check-format.sh

bench: build
	@bash scripts/bench.sh $(BUILD)

# Each libFuzzer target for FUZZ_SECONDS (clang; see scripts/fuzz.sh).
fuzz:
	@bash scripts/install-deps.sh fuzz
	@bash scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
