#!/usr/bin/env bash
# Self-extracting programs: what one adds to its archive (program size minus archive size,
# which is the winqor it copies plus the resource table), and how long its run takes against
# a shell self-extractor (makeself, bzip2) of the same tree when one is installed. Alternating
# runs, medians.
# usage: bench/sfx.sh [BUILD_DIR] [REPETITIONS]
cd "$(dirname "$0")/.."
. bench/common.sh
aze=$(find_aze "${1:-}")
reps=${2:-7}
winqor=$(dirname "$aze")/winqor
[ -x "$winqor" ] || { echo "no winqor beside $aze: build with WINQOR_BUILD_GUI=ON" >&2; exit 1; }
work=$(make_work_dir)
trap 'rm -rf "$work"' EXIT

size() { stat -c %s "$1"; }
elapsed() { local start; start=$(now_ns); "$@" > /dev/null 2>&1; echo $(( $(now_ns) - start )); }

make_mixed_tree "$work/tree"
"$aze" create -o "$work/tree.aze" "$work/tree" > /dev/null
mkdir "$work/dist"
"$aze" sfx -o "$work/dist/tree.run" "$work/tree.aze" > /dev/null

archive=$(size "$work/tree.aze")
program=$(size "$work/dist/tree.run")
echo "tree $(du -sb "$work/tree" | cut -f1) bytes; $reps runs each; $(nproc) processors"
printf 'stub (winqor)          %s bytes%s\n' "$(size "$winqor")" \
  "$([ -f "$winqor.debug" ] && echo ", its debug information apart: $(size "$winqor.debug") bytes")"
printf 'archive                %s bytes\n' "$archive"
printf 'program                %s bytes\n' "$program"
printf 'overhead               %s bytes (program/archive %sx; target <= 200 kB: %s)\n' \
  "$((program - archive))" "$(ratio "$program" "$archive")" \
  "$([ $((program - archive)) -le 204800 ] && echo met || echo missed)"
# winqor.exe, when the build cross-built it (WINQOR_WINDOWS=ON): where the build's aze finds it.
exe=$(dirname "$aze")/../lib/winqor/winqor.exe
if [ -f "$exe" ]; then
  printf 'winqor.exe             %s bytes (target <= 603,136: %s)\n' "$(size "$exe")" \
    "$([ "$(size "$exe")" -le 603136 ] && echo met || echo missed)"
else
  echo "winqor.exe               not built here (configure with -DWINQOR_WINDOWS=ON)"
fi

shell_sfx=
if command -v makeself > /dev/null; then
  shell_sfx=$work/dist/tree.sh
  makeself --bzip2 --nox11 --quiet "$work/tree" "$shell_sfx" tree true > /dev/null
  tar -C "$work/tree" -cjf "$work/tree.tar.bz2" .
  printf 'makeself               %s bytes, over its tar.bz2 %s bytes\n' "$(size "$shell_sfx")" \
    "$(($(size "$shell_sfx") - $(size "$work/tree.tar.bz2")))"
fi

# Both extract into a fresh folder each run; the program's folder is named after it, so each
# run starts a copy of the program in a folder of its own.
run_program() {
  mkdir "$work/run.$1"; cp "$work/dist/tree.run" "$work/run.$1/"; sync
  elapsed env -u DISPLAY -u WAYLAND_DISPLAY "$work/run.$1/tree.run"
}
run_shell() { sync; elapsed "$shell_sfx" --nox11 --noexec --quiet --target "$work/shell-out.$1"; }

p=() s=()
for ((i = 0; i < reps; i++)); do
  p+=("$(run_program "$i")")
  [ -z "$shell_sfx" ] || s+=("$(run_shell "$i")")
done
mp=$(median "${p[@]}")
printf 'self-extracting run    %s ms\n' "$(ms "$mp")"
if [ -n "$shell_sfx" ]; then
  mm=$(median "${s[@]}")
  printf 'makeself run           %s ms   program/makeself %sx\n' "$(ms "$mm")" "$(ratio "$mp" "$mm")"
else
  echo "makeself is not installed (apt-get install makeself): no shell self-extractor to compare"
fi
