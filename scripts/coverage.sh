#!/usr/bin/env bash
# Line and branch coverage of the test suite: builds with gcov counters in build/coverage (or
# $WINQOR_COVERAGE_BUILD), runs CTest there without the GUI tests (the window's tests need a
# display; winqor.exe's tests under Wine are not built here) and prints, per folder of the
# sources, "FOLDER lines N% branches M%", then the total. The full report per file is in
# build/coverage/coverage.txt.
#   scripts/coverage.sh            build, run the suite, report
#   scripts/coverage.sh --report   report what the last run counted, without building or running
# The sandboxed child writes its own counts before it ends: in this build alone its walls admit
# the build's folder and gcov's calls (platform/posix/coverage_counts_gcov.cpp; docs/fuzzing.md,
# "Coverage").
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${WINQOR_COVERAGE_BUILD:-build/coverage}
jobs=$(nproc)

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
if [ "${1:-}" != --report ]; then
  mkdir -p "$dir"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DWINQOR_COVERAGE=ON -DWINQOR_TEST_SEAMS=ON \
    -DWINQOR_WARNINGS_AS_ERRORS=ON "${launcher[@]}" >"$dir/configure.log" 2>&1 || { cat "$dir/configure.log"; exit 1; }
  cmake --build "$dir" -j"$jobs" >"$dir/build.log" 2>&1 || { tail -50 "$dir/build.log"; exit 1; }
  find "$dir" -name '*.gcda' -delete
  # The tests run some programs as another user: that user must be able to write the counts,
  # or the program says so on its standard error, which the tests compare. An empty counts
  # file is taken as a new one.
  find "$dir" -name '*.gcno' | sed 's/\.gcno$/.gcda/' | xargs -r touch
  find "$dir" -name '*.gcda' -exec chmod a+rw {} +
  # A failing test still leaves its counts (but for the limited ones below); the suite's
  # verdict is the other builds'. The package's tests build and check a Debian package, whose
  # programs count nothing here.
  # The tests that run a program under a small file-size limit (a full disk) come last, their
  # counts written beneath a folder that is then thrown away: a counts file the limit cuts short
  # would spoil every count merged into it later (gcov says "Merge mismatch" on each program's
  # standard error, and the tests that compare it fail).
  limited='^(e2e_faults|e2e_hostile_destination)$'
  scratch=$(mktemp -d /tmp/winqor-counts.XXXXXX)
  chmod 777 "$scratch"
  failed=0
  (cd "$dir" && ctest -LE 'gui|package' -E "$limited" -j"$jobs" >ctest.log 2>&1) || failed=1
  (cd "$dir" && GCOV_PREFIX=$scratch ctest -LE 'gui|package' -R "$limited" -j"$jobs" \
    >ctest-limited.log 2>&1) || failed=1
  rm -rf "$scratch"
  [ "$failed" = 0 ] ||
    { echo "coverage build: failed tests (gcov's counts are counted all the same):"
      grep -hE '\*\*\*Failed|\*\*\*Timeout' "$dir/ctest.log" "$dir/ctest-limited.log" || true; }
  # What no test ran left its counts file empty, which gcov would take for a damaged one.
  find "$dir" -name '*.gcda' -empty -delete
fi

# gcov's per-file counts of the project's own sources (not the tests, the fuzz targets or the
# generated files), summed per folder.
gcovr --root . --object-directory "$dir" --exclude-directories '.*/wineprefix' \
  --exclude-unreachable-branches --exclude-throw-branches \
  --filter '(base|format|protection|image|platform|engine|writer|app|ui|tools)/' \
  --exclude '.*_test\.cpp' --json-summary "$dir/coverage.json" --txt "$dir/coverage.txt" \
  "$dir" >/dev/null 2>"$dir/gcovr.log" || { tail -20 "$dir/gcovr.log"; exit 1; }
python3 - "$dir/coverage.json" <<'PY'
import json, sys

FOLDERS = ["base", "format", "protection", "image", "platform/posix", "platform", "engine",
           "writer", "app", "ui/gtk", "ui", "tools/aze", "tools/addres"]
files = json.load(open(sys.argv[1]))["files"]
sums = {}
for f in files:
    name = f["filename"]
    folder = next((d for d in FOLDERS if name.startswith(d + "/")), None)
    if folder is None:
        continue
    for key in (folder, "total"):
        s = sums.setdefault(key, [0, 0, 0, 0])
        s[0] += f["line_covered"]; s[1] += f["line_total"]
        s[2] += f["branch_covered"]; s[3] += f["branch_total"]

def percent(done, total):
    return f"{100.0 * done / total:.1f}%" if total else "-"

for key in [d for d in FOLDERS if d in sums] + ["total"]:
    s = sums[key]
    print(f"{key} lines {percent(s[0], s[1])} branches {percent(s[2], s[3])}")
PY
