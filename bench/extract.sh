#!/usr/bin/env bash
# Extraction speed: `aze extract` against `tar -xjf` of the same content and against
# `bzip2 -dc` of the same payload (the single-thread floor: decompression alone), and the
# decoding alone (`aze test`: decodes and walks the records without writing), and the writing
# alone (`cp -r` of the tree, read from the page cache: what any extractor pays the file
# system for it). Alternating runs, medians; peak memory of `aze extract` beside the size of
# its two buffers.
# usage: bench/extract.sh [BUILD_DIR] [REPETITIONS]
cd "$(dirname "$0")/.."
. bench/common.sh
aze=$(find_aze "${1:-}")
reps=${2:-7}
work=$(make_work_dir)
trap 'rm -rf "$work"' EXIT

elapsed() { local start; start=$(now_ns); "$@" > /dev/null; echo $(( $(now_ns) - start )); }

# The header's 32-bit little-endian field at offset $2 of the archive $1.
header_field() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

run_case() {
  local name=$1 tree=$2
  "$aze" create -o "$work/$name.aze" "$tree" > /dev/null
  tar -C "$tree" -cjf "$work/$name.tar.bz2" .
  tail -c +257 "$work/$name.aze" > "$work/$name.payload.bz2"
  local a=() d=() t=() f=() w=() i
  mkdir -p "$work/$name.out"
  for ((i = 0; i < reps; i++)); do
    sync
    a+=($(elapsed "$aze" extract -C "$work/$name.out/aze.$i" "$work/$name.aze"))
    d+=($(elapsed "$aze" test "$work/$name.aze"))
    mkdir -p "$work/$name.out/tar.$i"; sync
    t+=($(elapsed tar -C "$work/$name.out/tar.$i" -xjf "$work/$name.tar.bz2"))
    f+=($(elapsed bzip2 -dc "$work/$name.payload.bz2"))
    sync
    w+=($(elapsed cp -r "$tree" "$work/$name.out/cp.$i"))
  done
  local ma md mt mf mw
  ma=$(median "${a[@]}"); md=$(median "${d[@]}"); mt=$(median "${t[@]}"); mf=$(median "${f[@]}")
  mw=$(median "${w[@]}")
  printf '%-20s aze extract %s ms   aze test %s ms   tar -xjf %s ms   bzip2 -dc %s ms   cp -r %s ms\n' \
    "$name" "$(ms "$ma")" "$(ms "$md")" "$(ms "$mt")" "$(ms "$mf")" "$(ms "$mw")"
  printf '%-20s extract/floor %sx   extract/tar %sx   test/floor %sx   cp/floor %sx\n' \
    "" "$(ratio "$ma" "$mf")" "$(ratio "$ma" "$mt")" "$(ratio "$md" "$mf")" "$(ratio "$mw" "$mf")"
  local buffers
  buffers=$(( ($(header_field "$work/$name.aze" 12) + $(header_field "$work/$name.aze" 16)) / 1024 ))
  printf '%-20s peak %s KiB, buffers (packed + unpacked) %s KiB\n' \
    "" "$(peak_kib "$aze" extract -C "$work/$name.out/peak" "$work/$name.aze")" "$buffers"
}

make_mixed_tree "$work/mixed"
make_single_file_tree "$work/single" 10485000
make_many_files_tree "$work/many"
echo "trees: mixed $(du -sb "$work/mixed" | cut -f1) bytes, one file $(du -sb "$work/single" | cut -f1) bytes, many-files $(find "$work/many" -type f | wc -l) files; $reps runs each; $(nproc) processors"
run_case "10 MB mixed tree" "$work/mixed"
run_case "one 10 MB file" "$work/single"
run_case "2,400-file tree" "$work/many"
