#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs CTest in a normal test
# build and with AddressSanitizer and UndefinedBehaviorSanitizer, and the end-to-end tests in
# the configuration that ships (no test probes, the package made from it); the engine's
# unit tests run a third time with ThreadSanitizer. The normal build also cross-builds the
# Windows winqor.exe, whose tests run under Wine. Any compiler warning fails a build. Last, a
# coverage build runs the suite again and prints its coverage per folder (scripts/coverage.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs" ${CTEST_EXCLUDE:+-E "$CTEST_EXCLUDE"})
}

mkdir -p build
# winqor.exe's libbz2 is compiled from Debian's bzip2 source, fetched once into build/deps.
scripts/fetch-bzip2-source.sh build/deps
run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWINQOR_TEST_SEAMS=ON \
  -DWINQOR_WARNINGS_AS_ERRORS=ON -DWINQOR_WINDOWS=ON -DWINQOR_BZIP2_SOURCE="$PWD/build/deps/bzip2"
# winqor.exe under Wine: the unit tests of the portable layers and of the Win32 platform, the
# reference archives, the self-extracting program end to end and the dialogs.
# One test at a time: a program that Wine starts without a display can leave the prefix's
# desktop without one for a moment, and a dialog test opening its window then would fail.
(cd build/release/windows && ctest --output-on-failure -j1)
# The configuration that ships: no test probes (e2e_seams_in_programs finds none in its
# programs). Every end-to-end test runs (those that need a probe say so and are skipped), the
# Debian package among them, which a build with the probes refuses to make.
cmake -S . -B build/shipped -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWINQOR_TEST_SEAMS=OFF \
  -DWINQOR_WARNINGS_AS_ERRORS=ON > build/shipped.configure.log 2>&1 ||
  { cat build/shipped.configure.log; exit 1; }
cmake --build build/shipped -j"$jobs"
(cd build/shipped && ctest --output-on-failure -j"$jobs" -L e2e)
# Memory errors and leaks in the unit test programs, a second way (valgrind's memcheck).
scripts/valgrind.sh build/release
# Every fuzz target for a few seconds, so that a broken target is caught (fuzz/run.sh).
fuzz/run.sh --smoke 5
# halt_on_error makes any report fail its test; leaks are reported by LeakSanitizer, at the exit
# of every test program and of every aze and winqor the end-to-end tests run.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DWINQOR_SANITIZE=ON -DWINQOR_TEST_SEAMS=ON \
  -DWINQOR_WARNINGS_AS_ERRORS=ON
# Data races in the decoding threads and the walk that writes beside them: the engine's unit
# tests alone, with ThreadSanitizer.
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWINQOR_TSAN=ON -DWINQOR_WARNINGS_AS_ERRORS=ON \
  > build/tsan.configure.log 2>&1 ||
  { cat build/tsan.configure.log; exit 1; }
cmake --build build/tsan -j"$jobs" --target unit_engine
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/unit_engine --gtest_brief=1 \
  --gtest_filter='ParallelDecodeTest.*:DecoderTest.*:ExtractorTest.*:OverlappedWalkTest.*'
# Line and branch coverage per folder, from a gcov build of the suite (without the GUI tests).
# It reports only: the tests' verdict is the builds' above, and a coverage run that cannot be
# made says so without failing them.
scripts/coverage.sh || echo "coverage: not measured this time (scripts/coverage.sh failed)"
echo "all tests passed in the normal build, under Wine, and in the sanitizer and thread sanitizer builds"
