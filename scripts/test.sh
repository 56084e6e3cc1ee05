#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs CTest twice, once in a
# normal build and once with AddressSanitizer and UndefinedBehaviorSanitizer; the engine's
# unit tests run a third time with ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs")
}

mkdir -p build
run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWINQOR_TEST_SEAMS=ON
# Memory errors and leaks in the unit test programs, a second way (valgrind's memcheck).
scripts/valgrind.sh build/release
# Every fuzz target for a few seconds, so that a broken target is caught (fuzz/run.sh).
fuzz/run.sh --smoke 5
# halt_on_error makes any report fail its test; leaks are reported by LeakSanitizer, at the exit
# of every test program and of every aze and winqor the end-to-end tests run.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DWINQOR_SANITIZE=ON -DWINQOR_TEST_SEAMS=ON
# Data races in the decoding threads: the engine's unit tests alone, with ThreadSanitizer.
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWINQOR_TSAN=ON > build/tsan.configure.log 2>&1 ||
  { cat build/tsan.configure.log; exit 1; }
cmake --build build/tsan -j"$jobs" --target unit_engine
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/unit_engine --gtest_brief=1 \
  --gtest_filter='ParallelDecodeTest.*:DecoderTest.*:ExtractorTest.*'
echo "all tests passed in the normal, the sanitizer and the thread sanitizer build"
