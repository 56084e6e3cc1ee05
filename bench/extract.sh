#!/usr/bin/env bash
# Extraction speed: `aze extract` against the pipelines a user would pick for the same content
# (`tar -xjf`, `tar -I "lbzip2 -nN"` and `tar -I "pbzip2 -pN"` with N the processors, each
# pbzip2 run on an archive pbzip2 made, since it decodes only its own in parallel), against
# `bzip2 -dc` of the same payload (the single-thread floor: decompression alone), the decoding
# alone (`aze test`: decodes and walks the records without writing) and the writing alone
# (`cp -r` of the tree, read from the page cache: what any extractor pays the file system).
# Every tool also runs on one processor (`taskset -c 0`, the parallel ones with one thread), and
# the speed-up from one processor to all is printed. Interleaved runs, medians; peak memory of
# `aze extract` beside the size of its two buffers. lbzip2 and pbzip2 are compared when they
# are installed (apt-get install lbzip2 pbzip2).
# usage: bench/extract.sh [BUILD_DIR] [REPS]
cd "$(dirname "$0")/.."
. bench/common.sh
aze=$(find_aze "${1:-}")
reps=${2:-7}
work=$(make_work_dir)
trap 'rm -rf "$work"' EXIT
n=$(nproc)
one=(taskset -c 0)

# The header's 32-bit little-endian field at offset $2 of the archive $1.
header_field() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

peers=()
for peer in lbzip2 pbzip2; do
  if command -v "$peer" > /dev/null; then peers+=("$peer"); else echo "$peer is not installed (apt-get install $peer): not compared"; fi
done

# The timed runs of one round, by name: each writes into a folder of its own ($1: the round).
declare -A times
timed() { local name=$1; shift; times[$name]+=" $(elapsed "$@")"; }
round() {
  local name=$1 tree=$2 i=$3 out=$work/$name.out peer
  sync; timed "aze extract" "$aze" extract -C "$out/aze.$i" "$work/$name.aze"
  sync; timed "aze extract 1p" "${one[@]}" "$aze" extract -C "$out/aze1.$i" "$work/$name.aze"
  timed "aze test" "$aze" test "$work/$name.aze"
  timed "aze test 1p" "${one[@]}" "$aze" test "$work/$name.aze"
  mkdir -p "$out/tar.$i" "$out/lbzip2.$i" "$out/lbzip21.$i" "$out/pbzip2.$i" "$out/pbzip21.$i"
  sync; timed "tar -xjf" tar -C "$out/tar.$i" -xjf "$work/$name.tar.bz2"
  for peer in "${peers[@]}"; do
    local all=-n$n single=-n1 archive=$work/$name.tar.bz2
    [ "$peer" = pbzip2 ] && { all=-p$n; single=-p1; archive=$work/$name.pbzip2.tar.bz2; }
    sync; timed "$peer" tar -I "$peer $all" -C "$out/$peer.$i" -xf "$archive"
    sync; timed "$peer 1p" "${one[@]}" tar -I "$peer $single" -C "$out/${peer}1.$i" -xf "$archive"
  done
  timed "bzip2 -dc" bzip2 -dc "$work/$name.payload.bz2"
  sync; timed "cp -r" cp -r "$tree" "$out/cp.$i"
}

med() { median ${times[$1]}; }
show() { printf '  %-16s %9s ms\n' "$1" "$(ms "$(med "$1")")"; }

run_case() {
  local name=$1 tree=$2 i
  "$aze" create -o "$work/$name.aze" "$tree" > /dev/null
  tar -C "$tree" -cf - . | bzip2 -9 > "$work/$name.tar.bz2"
  [[ " ${peers[*]} " == *" pbzip2 "* ]] && tar -C "$tree" -cf - . | pbzip2 -9 -p"$n" > "$work/$name.pbzip2.tar.bz2"
  tail -c +257 "$work/$name.aze" > "$work/$name.payload.bz2"
  mkdir -p "$work/$name.out"
  times=()
  for ((i = 0; i < reps; i++)); do round "$name" "$tree" "$i"; done
  echo "$name"
  local key
  for key in "aze extract" "aze extract 1p" "aze test" "aze test 1p" "tar -xjf"; do show "$key"; done
  for peer in "${peers[@]}"; do show "$peer"; show "$peer 1p"; done
  show "bzip2 -dc"; show "cp -r"
  local a; a=$(med "aze extract")
  printf '  aze extract / tar -xjf %sx' "$(ratio "$a" "$(med "tar -xjf")")"
  for peer in "${peers[@]}"; do printf '   / %s %sx' "$peer" "$(ratio "$a" "$(med "$peer")")"; done
  echo
  printf '  one processor: aze test / bzip2 -dc %sx' "$(ratio "$(med "aze test 1p")" "$(med "bzip2 -dc")")"
  for peer in "${peers[@]}"; do
    printf '   aze extract / %s %sx' "$peer" "$(ratio "$(med "aze extract 1p")" "$(med "$peer 1p")")"
  done
  echo
  printf '  speed-up from 1 to %s processors: aze extract %sx   aze test %sx' "$n" \
    "$(ratio "$(med "aze extract 1p")" "$a")" "$(ratio "$(med "aze test 1p")" "$(med "aze test")")"
  for peer in "${peers[@]}"; do printf '   %s %sx' "$peer" "$(ratio "$(med "$peer 1p")" "$(med "$peer")")"; done
  echo
  local buffers
  buffers=$(( ($(header_field "$work/$name.aze" 12) + $(header_field "$work/$name.aze" 16)) / 1024 ))
  printf '  peak %s KiB, buffers (packed + unpacked) %s KiB\n' \
    "$(peak_kib "$aze" extract -C "$work/$name.out/peak" "$work/$name.aze")" "$buffers"
}

make_mixed_tree "$work/mixed"
make_single_file_tree "$work/single" 10485000
make_many_files_tree "$work/many"
echo "trees: mixed $(du -sb "$work/mixed" | cut -f1) bytes, one file $(du -sb "$work/single" | cut -f1) bytes, many-files $(find "$work/many" -type f | wc -l) files; $reps interleaved runs each; $n processors, load $(cut -d' ' -f1 /proc/loadavg)"
run_case "10 MB mixed tree" "$work/mixed"
run_case "one 10 MB file" "$work/single"
run_case "2,400-file tree" "$work/many"
