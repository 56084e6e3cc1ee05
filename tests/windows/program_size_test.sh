#!/usr/bin/env bash
# winqor.exe goes into every Windows installer: a change that brings a large piece of the
# runtime into it (the C++ streams and their locales weighed 650 kB) fails here, not in a
# user's download. Sizes the shipped program only: a Debug build is not built for size.
# usage: program_size_test.sh WINQOR_EXE MAX_BYTES
set -euo pipefail
program=${1:?usage: program_size_test.sh WINQOR_EXE MAX_BYTES}
limit=${2:?usage: program_size_test.sh WINQOR_EXE MAX_BYTES}
size=$(stat -c %s "$program")
echo "winqor.exe: $size bytes (at most $limit)"
if [ "$size" -gt "$limit" ]; then
  echo "winqor.exe is larger than $limit bytes: see docs/speed.md for what took its bytes" >&2
  x86_64-w64-mingw32-objdump -h "$program" >&2 || true
  exit 1
fi
