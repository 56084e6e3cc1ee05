#!/usr/bin/env bash
# Runs every unit test program of a build under valgrind's memcheck: any invalid access, use of
# uninitialised memory, or definite or indirect leak fails it. usage: scripts/valgrind.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: scripts/valgrind.sh BUILD_DIR}

# Left out, and why:
# - the three cases that compress or walk 10 MB take minutes under valgrind; the sanitizer build
#   runs them with the same checks;
# - valgrind starts a posix_spawn child as a plain fork, so an exec that fails is not reported
#   to the parent: the case that expects that report cannot pass under valgrind.
skip=-Bzip2CompressorTest.EverySizeAndKindOfInputDecodesInOnePass
skip+=:TreeWalkerTest.StreamOfExactly10485504BytesIsAccepted:TreeWalkerTest.RefusesATreeOneByteOverTheLimit
skip+=:StartProgramAndWaitTest.MissingOrUnstartableProgramsFailAtOnce

failed=0
for program in "$build"/tests/unit_*; do
  [ -x "$program" ] || continue
  log="$program.valgrind.log"
  if valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    "$program" --gtest_brief=1 --gtest_filter="$skip" >"$log" 2>&1; then
    echo "valgrind: $(basename "$program") clean"
  else
    echo "valgrind: $(basename "$program") FAILED (see $log)" >&2
    tail -30 "$log" >&2
    failed=1
  fi
done
exit $failed
