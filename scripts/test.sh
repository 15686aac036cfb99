#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite;
# then, each in a build folder of its own, the suite without the window under
# AddressSanitizer and UndefinedBehaviorSanitizer, the run and budget tests
# under ThreadSanitizer, and every fuzz target for a minute from its seeds.
# Every step runs; any failure fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
jobs=$(nproc)
fuzz_seconds=${PICTAVO_FUZZ_SECONDS:-60}
results=()
failed=0

# Runs a step, times it, and goes on to the next one whatever happens.
step() {
    local name=$1 started=$SECONDS status
    shift
    echo "=== $name"
    set +e
    (set -e; "$@")
    status=$?
    set -e
    local took=$((SECONDS - started))
    local outcome=passed
    if [ "$status" -ne 0 ]; then
        outcome=FAILED
        failed=1
    fi
    results+=("$name $outcome in $((took / 60))m$(printf %02d $((took % 60)))s")
    echo "=== $name $outcome"
}

plain() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build -j"$jobs"
    ctest --test-dir build --output-on-failure -j"$jobs"
}

asan() {
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Release -DPICTAVO_SANITIZE=ON \
        -DPICTAVO_GUI=OFF -DPICTAVO_BENCH=OFF >/dev/null
    cmake --build build-asan -j"$jobs"
    UBSAN_OPTIONS=print_stacktrace=1 LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp:print_suppressions=0 ctest --test-dir build-asan --output-on-failure -j"$jobs"
}

# The tests of the run, the memory budget and the tool at several jobs,
# where threads meet.
tsan() {
    cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Release -DPICTAVO_TSAN=ON \
        -DPICTAVO_GUI=OFF -DPICTAVO_BENCH=OFF >/dev/null
    cmake --build build-tsan -j"$jobs" --target imaging_tests batch_tests cli_tests
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --test-dir build-tsan --output-on-failure \
        -j"$jobs" -R '^(ResizeRun|ListOrderRun|MemoryBudget|FreedMemory|AllocationCap)\.|^PictavoTool\.JobsDoNotChangeTheBytes$'
}

# One fuzz target from the seeds in fuzz/corpus/<target>; what it finds
# stays in build-fuzz.
fuzz_one() {
    local target=$1
    mkdir -p "build-fuzz/found/$target" build-fuzz/crashes
    # The targets hold pictures to 64 MiB of budget: an input that takes
    # 1 GiB, a single allocation of 256 MiB or 20 seconds is a failure.
    # Stacks through libheif, built without frame pointers, are whole only
    # when unwound slowly; the leak suppressions need them whole.
    local unwind=1
    case $target in *heif* | *avif*) unwind=0 ;; esac
    if UBSAN_OPTIONS=print_stacktrace=1 ASAN_OPTIONS=fast_unwind_on_malloc=$unwind \
        LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp "build-fuzz/fuzz/$target" -max_total_time="$fuzz_seconds" -timeout=20 \
        -rss_limit_mb=1024 -malloc_limit_mb=256 -artifact_prefix="build-fuzz/crashes/$target-" \
        "build-fuzz/found/$target" "fuzz/corpus/$target" >"build-fuzz/$target.log" 2>&1; then
        echo "$target: $(grep -o '#[0-9]*.*DONE.*' "build-fuzz/$target.log" | tail -1)"
    else
        tail -n 60 "build-fuzz/$target.log"
        echo "$target FAILED: keep the input in build-fuzz/crashes as a seed in fuzz/corpus/$target once fixed"
        return 1
    fi
}

fuzz() {
    cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DPICTAVO_FUZZ=ON -DPICTAVO_GUI=OFF -DPICTAVO_TESTS=OFF -DPICTAVO_BENCH=OFF >/dev/null
    cmake --build build-fuzz -j"$jobs" --target fuzzers
    local targets=() pids=() i status=0
    for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
    # As many fuzzers at once as there are cores.
    for i in "${!targets[@]}"; do
        if [ "${#pids[@]}" -ge "$jobs" ]; then
            wait "${pids[0]}" || status=1
            pids=("${pids[@]:1}")
        fi
        fuzz_one "${targets[$i]}" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid" || status=1; done
    return "$status"
}

step "build and tests" plain
step "AddressSanitizer and UndefinedBehaviorSanitizer" asan
step "ThreadSanitizer" tsan
step "fuzzing" fuzz

echo
for r in "${results[@]}"; do echo "test.sh: $r"; done
if [ "$failed" -ne 0 ]; then
    echo "test.sh: FAILED"
    exit 1
fi
echo "test.sh: all passed"
