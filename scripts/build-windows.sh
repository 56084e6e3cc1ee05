#!/usr/bin/env bash
# Cross-builds the Windows program winqor.exe (x86-64, one static executable) with mingw-w64
# into BUILD_DIR, with the Windows tests (run them with ctest in BUILD_DIR; they run under Wine).
# Debian's bzip2 source, which the build compiles, is fetched into BUILD_DIR/deps first.
# Extra arguments go to the configure step (e.g. -DCMAKE_BUILD_TYPE=Debug).
set -euo pipefail
build=$(realpath -m "${1:?usage: build-windows.sh BUILD_DIR [CMAKE_ARGUMENTS...]}")
shift
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/fetch-bzip2-source.sh" "$build/deps"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" \
  -DWINQOR_BZIP2_SOURCE="$build/deps/bzip2" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build" -j"$jobs"
program=$build/bin/winqor.exe
[ -f "$program" ] || { echo "the build made no $program" >&2; exit 1; }
echo "winqor.exe: $program"
