#!/usr/bin/env bash
# The whole test run behind `make test`: every test in the plain build, every test again under
# ASan+UBSan, the whole-call tests under TSan, then a short run of each fuzz target. Ends with
# one summary line.
set -uo pipefail
jobs=${JOBS:-$(nproc)}
wide_jobs=$((jobs * 2))
fuzz_seconds=${FUZZ_SECONDS:-10}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
passed=0
failed=0

# Adds the counts from each ctest closing line ("N% tests passed, F tests failed out of T") in
# the log; a run that printed none counts as one failure.
count_ctest() {
    local runs=${1:-1} line total bad seen=0
    while read -r line; do
        bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
        total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
        passed=$((passed + total - bad))
        failed=$((failed + bad))
        seen=$((seen + 1))
    done < <(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log")
    [ "$seen" -ge "$runs" ] || failed=$((failed + runs - seen))
}

# The unit tests at one per core; then the whole-system tests (label integration), which spend
# most of their time waiting on calls in their own network namespaces (about a quarter of a core
# each), two per core.
run_ctest() {
    local dir=$1
    shift
    {
        (cd "$dir" && env "$@" ctest --output-on-failure -j "$jobs" -LE integration)
        (cd "$dir" && env "$@" ctest --output-on-failure -j "$wide_jobs" -L integration)
    } 2>&1 | tee "$log"
    count_ctest 2
}

echo "== tests (build)"
run_ctest build

echo "== tests under AddressSanitizer + UndefinedBehaviorSanitizer (build-asan)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSIPLINE_BENCH=OFF \
    -DSIPLINE_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS=-O1 >/dev/null &&
    cmake --build build-asan -j "$jobs" | tail -n 1 || failed=$((failed + 1))
run_ctest build-asan ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1

echo "== whole calls under ThreadSanitizer (build-tsan: sipline and media_harness; label e2e_calls)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSIPLINE_BENCH=OFF \
    -DSIPLINE_SANITIZE=thread >/dev/null &&
    cmake --build build-tsan -j "$jobs" --target sipline media_harness | tail -n 1 || failed=$((failed + 1))
(cd build-tsan && env TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --output-on-failure -j "$jobs" -L e2e_calls) 2>&1 | tee "$log"
count_ctest

echo "== fuzz smoke (build-fuzz, ${fuzz_seconds}s each)"
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSIPLINE_FUZZ=ON >/dev/null &&
    cmake --build build-fuzz -j "$jobs" | tail -n 1 || failed=$((failed + 1))
fuzz/run.sh build-fuzz "$fuzz_seconds" 2>&1 | tee "$log"
passed=$((passed + $(grep -c ' ok (' "$log")))
failed=$((failed + $(grep -c 'FINDING' "$log")))

echo "test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
