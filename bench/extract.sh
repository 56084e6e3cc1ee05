#!/usr/bin/env bash
# Extraction speed: `aze extract` against `tar -xjf` of the same content and against
# `bzip2 -dc` of the same payload (the floor: decompression alone). Alternating runs, medians.
# usage: bench/extract.sh [BUILD_DIR] [REPETITIONS]
cd "$(dirname "$0")/.."
. bench/common.sh
aze=$(find_aze "${1:-}")
reps=${2:-7}
work=$(mktemp -d /tmp/winqor-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

run_case() {
  local name=$1 tree=$2
  "$aze" create -o "$work/$name.aze" "$tree" > /dev/null
  tar -C "$tree" -cjf "$work/$name.tar.bz2" .
  tail -c +257 "$work/$name.aze" > "$work/$name.payload.bz2"
  local a=() t=() f=() start i
  for ((i = 0; i < reps; i++)); do
    rm -rf "$work/out"; sync
    start=$(now_ns); "$aze" extract -C "$work/out" "$work/$name.aze" > /dev/null; a+=($(( $(now_ns) - start )))
    rm -rf "$work/out"; mkdir "$work/out"; sync
    start=$(now_ns); tar -C "$work/out" -xjf "$work/$name.tar.bz2"; t+=($(( $(now_ns) - start )))
    start=$(now_ns); bzip2 -dc "$work/$name.payload.bz2" > /dev/null; f+=($(( $(now_ns) - start )))
  done
  local ma mt mf
  ma=$(median "${a[@]}"); mt=$(median "${t[@]}"); mf=$(median "${f[@]}")
  rm -rf "$work/out"
  printf '%-18s aze %s ms   tar -xjf %s ms   bzip2 -dc %s ms   aze/floor %sx   aze/tar %sx   peak ' \
    "$name" "$(ms "$ma")" "$(ms "$mt")" "$(ms "$mf")" "$(ratio "$ma" "$mf")" "$(ratio "$ma" "$mt")"
  echo "$(peak_kib "$aze" extract -C "$work/out" "$work/$name.aze") KiB"
  rm -rf "$work/out"
}

make_mixed_tree "$work/mixed"
make_many_files_tree "$work/many"
echo "trees: mixed $(du -sb "$work/mixed" | cut -f1) bytes, many-files $(find "$work/many" -type f | wc -l) files; $reps runs each"
run_case "10 MB mixed tree" "$work/mixed"
run_case "2,400-file tree" "$work/many"
