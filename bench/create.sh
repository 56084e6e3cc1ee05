#!/usr/bin/env bash
# Times `aze create` against `tar -cjf` (also bzip2 at its default, the largest block size) and
# against the parallel pipelines `tar cf - | lbzip2 -9 -nN` and `tar cf - | pbzip2 -9 -pN` (N the
# processors; pbzip2 uses the same library as aze) on the same ~10 MB tree: one large
# executable-like file and a few hundred small text files in nested folders. Each also runs on
# one processor (`taskset -c 0`, the parallel ones with one thread), for the speed-up from one
# processor to all. Runs are interleaved; the ratios are of their medians. lbzip2 and pbzip2
# are compared when they are installed (apt-get install lbzip2 pbzip2).
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
n=$(nproc)
one=(taskset -c 0)
peers=()
for peer in lbzip2 pbzip2; do
  if command -v "$peer" > /dev/null; then peers+=("$peer"); else echo "$peer is not installed (apt-get install $peer): not compared"; fi
done
declare -A wall cpu
timed() {
  local name=$1 w c
  shift
  read -r w c < <({ time "$@" > /dev/null; } 2>&1 | awk '{ printf "%s %.3f\n", $1, $2 + $3 }')
  wall[$name]+=" $w"
  cpu[$name]+=" $c"
}
# A peer's pipeline, as a command that taskset can start: tar's stream through the compressor
# and its options.
pipeline=(bash -c 'tar -cf - -C "$1" tree | "${@:2}" > "$1/out.$2.tar.bz2"' pipeline "$work")
for ((i = 0; i < repetitions; i++)); do
  timed "aze create" "$aze" create -o "$work/out.aze" "$tree" < /dev/null
  timed "aze create 1p" "${one[@]}" "$aze" create -o "$work/out1.aze" "$tree" < /dev/null
  timed "tar -cjf" tar -cjf "$work/out.tar.bz2" -C "$work" tree
  for peer in "${peers[@]}"; do
    flag=-n; [ "$peer" = pbzip2 ] && flag=-p
    timed "$peer" "${pipeline[@]}" "$peer" -9 "$flag$n"
    timed "$peer 1p" "${one[@]}" "${pipeline[@]}" "$peer" -9 "${flag}1"
  done
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
med() { median ${wall[$1]}; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "tree: $files files, $bytes bytes; $n processors, load $(cut -d' ' -f1 /proc/loadavg); $repetitions interleaved runs each"
show() { printf '%-16s %s s (processor%s s)%s\n' "$1:" "$(med "$1")" "${cpu[$1]}" "${2:+, $2}"; }
show "aze create" "$(stat -c %s "$work/out.aze") bytes"
show "aze create 1p"
show "tar -cjf" "$(stat -c %s "$work/out.tar.bz2") bytes"
for peer in "${peers[@]}"; do
  show "$peer" "$(stat -c %s "$work/out.$peer.tar.bz2") bytes"
  show "$peer 1p"
done
a=$(med "aze create")
printf 'ratio aze/tar -cjf: %sx' "$(ratio "$a" "$(med "tar -cjf")")"
for peer in "${peers[@]}"; do printf '   aze/%s: %sx' "$peer" "$(ratio "$a" "$(med "$peer")")"; done
echo
printf 'speed-up from 1 to %s processors: aze create %sx' "$n" "$(ratio "$(med "aze create 1p")" "$a")"
for peer in "${peers[@]}"; do printf '   %s %sx' "$peer" "$(ratio "$(med "$peer 1p")" "$(med "$peer")")"; done
echo
