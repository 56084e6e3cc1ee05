#!/usr/bin/env bash
# Fuzzes with libFuzzer (clang, AddressSanitizer, UndefinedBehaviorSanitizer).
#   fuzz/run.sh TARGET SECONDS [LIBFUZZER_OPTION...]   one target; findings go to fuzz/crashes/TARGET
#   fuzz/run.sh --smoke SECONDS                        every target briefly (the test suite's check)
#   fuzz/run.sh --keep [TARGET...]                     keep what the runs found (below)
#   fuzz/run.sh --list                                 the targets
# The targets are built in build/fuzz. New inputs collect in build/fuzz/corpus/TARGET; the seeds in
# fuzz/corpus/TARGET are read, never written. --keep minimizes fuzz/campaign/TARGET together with
# build/fuzz/corpus/TARGET back into fuzz/campaign/TARGET, which every run reads as seeds too: a
# clone on a new machine goes on from where the last campaign stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
# Absolute paths: the archive targets move the current directory while they extract.
top=$(pwd)
targets=(archive archive_stream archive_payload walk password resource_table pe_resources identity
  child_messages sfx_switches password_file desktop_uri parallel_decode licence)
build=$top/build/fuzz

usage() {
  echo "usage: fuzz/run.sh TARGET SECONDS [LIBFUZZER_OPTION...] | --smoke SECONDS | --keep [TARGET...] | --list" >&2
  exit 2
}

build_targets() {
  mkdir -p "$build"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DWINQOR_FUZZ=ON -DWINQOR_BUILD_GUI=OFF \
    -DWINQOR_BUILD_TESTS=OFF >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
  local names=()
  for target in "$@"; do names+=(--target "fuzz_$target"); done
  cmake --build "$build" -j"${WINQOR_JOBS:-2}" "${names[@]}" >"$build/build.log" 2>&1 ||
    { tail -50 "$build/build.log"; exit 1; }
}

# The programs the release build made, as seeds of the PE reader: winqor.exe as built and
# after aze sfx --windows put an archive in it. Too large for the repository, which keeps
# small programs of the same shape (make_corpus.cpp). Skipped when there is no such build.
release=${WINQOR_RELEASE_BUILD:-$top/build/release}
release_seeds() {
  local seeds=$build/seeds/$1
  [ "$1" = pe_resources ] && [ -f "$release/lib/winqor/winqor.exe" ] && [ -x "$release/bin/aze" ] ||
    return 0
  mkdir -p "$seeds" "$build/seeds/folder/sub"
  cp "$release/lib/winqor/winqor.exe" "$seeds/winqor.exe"
  echo "setup" >"$build/seeds/folder/Setup.exe"
  echo "notes" >"$build/seeds/folder/sub/a"
  "$release/bin/aze" sfx --windows --run-setup -o "$seeds/sfx.exe" "$build/seeds/folder" >/dev/null
  "$release/bin/aze" sfx --windows --stub "$seeds/sfx.exe" -o "$seeds/sfx-again.exe" \
    "$build/seeds/folder/sub" >/dev/null
}

known_target() {
  printf '%s\n' "${targets[@]}" | grep -qx -- "$1" || { echo "unknown target: $1" >&2; usage; }
}

# run_target TARGET SECONDS FINDINGS_DIR [OPTION...]
run_target() {
  local target=$1 seconds=$2 findings=$3
  shift 3
  mkdir -p "$build/corpus/$target" "$findings"
  release_seeds "$target"
  # The stored findings start every run too, so that the smoke run also replays them.
  local seeds=()
  [ -d "$top/fuzz/crashes/$target" ] && seeds=("$top/fuzz/crashes/$target")
  [ -d "$build/seeds/$target" ] && seeds+=("$build/seeds/$target")
  [ -d "$top/fuzz/campaign/$target" ] && seeds+=("$top/fuzz/campaign/$target")
  # The archive targets write their trees in a folder of their own below TMPDIR: memory is faster.
  [ -d /dev/shm ] && export TMPDIR=/dev/shm
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$@" "$build/corpus/$target" "$top/fuzz/corpus/$target" \
    "${seeds[@]}"
}

# Inputs above this size stay out of the repository: they are mutations of the release build's
# programs (pe_resources' seeds), which every run with a release build seeds again.
keep_max_bytes=65536

# small_inputs OUT DIR...: copies the inputs of the folders no larger than keep_max_bytes to OUT.
small_inputs() {
  local out=$1
  shift
  mkdir -p "$out"
  find "$@" -type f -size -$((keep_max_bytes + 1))c -print0 |
    while IFS= read -r -d '' input; do cp -f "$input" "$out/$(sha1sum <"$input" | cut -c1-40)"; done
}

# keep_corpus TARGET: libFuzzer's merge keeps the inputs that add coverage, smallest first. It
# builds a new folder and replaces the old one only when the merge has finished.
keep_corpus() {
  local target=$1 kept=$top/fuzz/campaign/$1 found=() small=$build/keep-$1.inputs
  [ -d "$build/corpus/$target" ] && found+=("$build/corpus/$target")
  [ -d "$kept" ] && found+=("$kept")
  [ ${#found[@]} -gt 0 ] || return 0
  rm -rf "$kept.new" "$small"
  mkdir -p "$kept.new"
  small_inputs "$small" "${found[@]}"
  [ -d /dev/shm ] && export TMPDIR=/dev/shm
  "$build/fuzz/fuzz_$target" -merge=1 -timeout=30 -rss_limit_mb=2048 "$kept.new" "$small" \
    >"$build/keep-$target.log" 2>&1 ||
    { tail -20 "$build/keep-$target.log"; rm -rf "$kept.new" "$small"; exit 1; }
  rm -rf "$kept" "$small"
  mv "$kept.new" "$kept"
  echo "$target: $(find "$kept" -type f | wc -l) inputs kept in fuzz/campaign/$target"
}

[ $# -ge 1 ] || usage
case $1 in
  --list) printf '%s\n' "${targets[@]}" ;;
  --keep)
    shift
    [ $# -gt 0 ] || set -- "${targets[@]}"
    for target in "$@"; do known_target "$target"; done
    build_targets "$@"
    for target in "$@"; do keep_corpus "$target"; done
    ;;
  --smoke)
    [ $# -eq 2 ] || usage
    build_targets "${targets[@]}"
    for target in "${targets[@]}"; do
      echo "== fuzz smoke: $target, $2 s"
      run_target "$target" "$2" "$build/findings/$target" 2>"$build/smoke-$target.log" ||
        { tail -40 "$build/smoke-$target.log"; echo "fuzz smoke: $target found something" >&2; exit 1; }
      grep -E '^stat::number_of_executed_units' "$build/smoke-$target.log" || true
    done
    ;;
  *)
    [ $# -ge 2 ] || usage
    target=$1 seconds=$2
    shift 2
    known_target "$target"
    build_targets "$target"
    run_target "$target" "$seconds" "$top/fuzz/crashes/$target" "$@"
    ;;
esac
