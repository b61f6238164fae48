#!/usr/bin/env bash
# The whole test run behind `make test`: every test in the plain build, every test again under
# ASan+UBSan, the whole-call tests under TSan, then a short run of each fuzz target. Ends with
# one summary line.
set -uo pipefail
jobs=${JOBS:-$(nproc)}
fuzz_seconds=${FUZZ_SECONDS:-10}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
passed=0
failed=0

# Adds the counts from ctest's closing line ("N% tests passed, F tests failed out of T").
count_ctest() {
    local line total bad
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$line" ]; then
        failed=$((failed + 1))
        return
    fi
    bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
}

run_ctest() {
    local dir=$1
    shift
    (cd "$dir" && env "$@" ctest --output-on-failure -j "$jobs") 2>&1 | tee "$log"
    count_ctest
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
