#!/usr/bin/env bash
# The tests' hooks are in the programs of a test build and in none of a build as shipped: their
# environment variables' names and their classes' names are looked for in each program's bytes
# (winqor is stripped, but its type names and string literals stay).
# usage: seams_in_programs.sh present|absent PROGRAM...
. "$(dirname "$0")/lib.sh"
want=$1
shift
marks='WINQOR_TEST_[A-Z_]+|Test(Extraction|ProgramStart)Hooks'
for program in "$@"; do
  found=$(LC_ALL=C grep -aoE "$marks" "$program" | LC_ALL=C sort -u | tr '\n' ' ')
  if [ "$want" = present ]; then
    expect_match "$(basename "$program") carries the hooks" "$found" 'TestExtractionHooks'
    expect_match "$(basename "$program") reads the tests' variables" "$found" 'WINQOR_TEST_LIE'
  else
    expect_equal "$(basename "$program") carries no test hook" "$found" ""
  fi
done
finish
