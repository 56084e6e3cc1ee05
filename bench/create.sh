#!/usr/bin/env bash
# Times `aze create` against `tar -cjf` (also bzip2 at its default, the largest block size) on
# the same ~10 MB tree: one large executable-like file and a few hundred small text files in
# nested folders. Runs alternate between the two; the ratio is of their medians.
# usage: bench/create.sh [BUILD_DIR] [REPETITIONS]   (BUILD_DIR: build/release, else build)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-}
if [ -z "$build" ]; then
  if [ -x build/release/bin/aze ]; then build=build/release; else build=build; fi
fi
aze=$(realpath "$build/bin/aze")
repetitions=${2:-5}
[ -x "$aze" ] || { echo "no aze in $build: build it first" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree
mkdir -p "$tree"

# The large file: the system's own programs, as a stand-in for a shipped executable.
find /usr/bin -maxdepth 1 -type f -size +20k -print0 | sort -z | xargs -0 cat 2>/dev/null |
  head -c 6000000 > "$tree/program.bin" || true

# Small text files: prose-like lines from a fixed vocabulary, a fixed seed, nested folders.
awk -v root="$tree" 'BEGIN {
  srand(20240101)
  n = split("the of and a to in is for that archive folder file record setup install " \
            "config value name path size error return int const void struct static if " \
            "else while open close read write buffer length offset header payload stream " \
            "user option default version license copyright section table index data", w, " ")
  for (f = 0; f < 420; f++) {
    dir = root "/src/module" (f % 12) "/part" (f % 5)
    if (f % 7 == 0) dir = root "/docs/chapter" (f % 9)
    system("mkdir -p \"" dir "\"")
    file = dir "/file" f ".txt"
    size = 2000 + int(rand() * 14000)
    written = 0
    while (written < size) {
      line = ""
      words = 4 + int(rand() * 10)
      for (k = 0; k < words; k++) line = line w[1 + int(rand() * n)] " "
      line = line int(rand() * 1000)
      print line > file
      written += length(line) + 1
    }
    close(file)
  }
}'
mkdir -p "$tree/empty folder"

bytes=$(du -sb "$tree" | cut -f1)
files=$(find "$tree" -type f | wc -l)

# Wall-clock seconds of each run; processor seconds (user + system) beside them, since the
# machine may be shared and aze compresses on every processor it has.
TIMEFORMAT='%R %U %S'
timed() { { time "$@" > /dev/null; } 2>&1 | awk '{ printf "%s %.3f\n", $1, $2 + $3 }'; }
aze_times=()
tar_times=()
aze_cpu=()
tar_cpu=()
for ((i = 0; i < repetitions; i++)); do
  read -r wall cpu < <(timed "$aze" create -o "$work/out.aze" "$tree" < /dev/null)
  aze_times+=("$wall")
  aze_cpu+=("$cpu")
  read -r wall cpu < <(timed tar -cjf "$work/out.tar.bz2" -C "$work" tree)
  tar_times+=("$wall")
  tar_cpu+=("$cpu")
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
aze_median=$(median "${aze_times[@]}")
tar_median=$(median "${tar_times[@]}")

echo "tree: $files files, $bytes bytes; $(nproc) processors, load $(cut -d' ' -f1 /proc/loadavg)"
echo "aze create: ${aze_median} s (processor ${aze_cpu[*]} s), $(stat -c %s "$work/out.aze") bytes"
echo "tar -cjf:   ${tar_median} s (processor ${tar_cpu[*]} s), $(stat -c %s "$work/out.tar.bz2") bytes"
awk -v a="$aze_median" -v t="$tar_median" -v r="$repetitions" 'BEGIN {
  ratio = a / t
  printf "ratio aze/tar: %.2fx (median of %d alternating runs each; target <= 1.00x: %s)\n",
         ratio, r, ratio <= 1.0 ? "met" : "missed"
}'
