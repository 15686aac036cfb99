#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite;
# then, each in a build folder of its own, the suite without the window under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the run and budget
# tests under ThreadSanitizer.
# Every step runs; any failure fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
jobs=$(nproc)
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
    UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-asan --output-on-failure -j"$jobs"
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

step "build and tests" plain
step "AddressSanitizer and UndefinedBehaviorSanitizer" asan
step "ThreadSanitizer" tsan

echo
for r in "${results[@]}"; do echo "test.sh: $r"; done
if [ "$failed" -ne 0 ]; then
    echo "test.sh: FAILED"
    exit 1
fi
echo "test.sh: all passed"
