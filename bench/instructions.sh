#!/usr/bin/env bash
# What each program costs in instructions, all its processes and threads together, counted
# by valgrind's callgrind: figures that a loaded or noisy machine leaves alone, where the
# wall-clock benchmarks (bench/extract.sh, bench/create.sh) do not. On the 10 MB mixed tree:
# `aze test` against `bzip2 -dc` of its payload (the single-thread floor), `aze extract`
# against `tar -xjf` and the lbzip2 and pbzip2 pipelines, and `aze create` against bzip2, lbzip2
# and pbzip2 compressing tar's stream, each with one thread and with one per processor (the
# difference is what spreading the work costs). Slow: valgrind runs each program some fifty
# times slower. valgrind follows aze into its sandboxed child, which is counted with it.
# usage: bench/instructions.sh [BUILD_DIR]
cd "$(dirname "$0")/.."
. bench/common.sh
aze=$(find_aze "${1:-}")
command -v valgrind > /dev/null || { echo "valgrind is not installed (apt-get install valgrind)" >&2; exit 1; }
work=$(make_work_dir)
trap 'rm -rf "$work"' EXIT
n=$(nproc)

# Instructions of a command and every process it forks or starts, summed.
instructions() {
  valgrind --tool=callgrind --trace-children=yes --callgrind-out-file="$work/cg.%p" \
    --log-file="$work/log.%p" "$@" < /dev/null > /dev/null 2>&1 || echo "($* failed)" >&2
  cat "$work"/log.* | sed -n 's/.*Collected : \([0-9]*\).*/\1/p' | awk '{ s += $1 } END { printf "%.0f\n", s }'
  rm -f "$work"/log.* "$work"/cg.*
}
say() { printf '  %-36s %16s instructions%s\n' "$1" "$(printf "%'d" "$2")" "${3:+   $3}"; }

make_mixed_tree "$work/tree"
"$aze" create -o "$work/tree.aze" "$work/tree" > /dev/null
tail -c +257 "$work/tree.aze" > "$work/payload.bz2"
tar -C "$work/tree" -cf "$work/tree.tar" .
bzip2 -9 -k -c "$work/tree.tar" > "$work/tree.tar.bz2"
echo "10 MB mixed tree: $(du -sb "$work/tree" | cut -f1) bytes; $n processors"

echo "decoding"
floor=$(instructions bzip2 -dc "$work/payload.bz2")
say "bzip2 -dc (the payload)" "$floor"
for processors in 1 "$n"; do
  count=$(instructions taskset -c "0-$((processors - 1))" "$aze" test "$work/tree.aze")
  say "aze test on $processors" "$count" "$(ratio "$count" "$floor")x the floor"
done
echo "extraction"
count=$(instructions tar -C "$(mkdir -p "$work/o1" && echo "$work/o1")" -xjf "$work/tree.tar.bz2")
say "tar -xjf" "$count"
for processors in 1 "$n"; do
  mkdir -p "$work/a$processors"
  count=$(instructions taskset -c "0-$((processors - 1))" "$aze" extract -C "$work/a$processors" "$work/tree.aze")
  say "aze extract on $processors" "$count"
done
for peer in lbzip2 pbzip2; do
  command -v "$peer" > /dev/null || { echo "  $peer is not installed (apt-get install $peer)"; continue; }
  flag=-n; [ "$peer" = pbzip2 ] && flag=-p
  archive=$work/tree.tar.bz2
  if [ "$peer" = pbzip2 ]; then archive=$work/tree.pbzip2.tar.bz2; pbzip2 -9 -c "$work/tree.tar" > "$archive"; fi
  for threads in 1 "$n"; do
    mkdir -p "$work/$peer$threads"
    count=$(instructions tar -I "$peer $flag$threads" -C "$work/$peer$threads" -xf "$archive")
    say "tar -I \"$peer $flag$threads\" -xf" "$count"
  done
done
echo "compression"
count=$(instructions bzip2 -9 -c "$work/tree.tar")
say "bzip2 -9 (tar's stream)" "$count"
for processors in 1 "$n"; do
  count=$(instructions taskset -c "0-$((processors - 1))" "$aze" create -o "$work/c$processors.aze" "$work/tree")
  say "aze create on $processors" "$count"
done
for peer in lbzip2 pbzip2; do
  command -v "$peer" > /dev/null || continue
  flag=-n; [ "$peer" = pbzip2 ] && flag=-p
  for threads in 1 "$n"; do
    count=$(instructions "$peer" -9 "$flag$threads" -c "$work/tree.tar")
    say "$peer -9 $flag$threads (tar's stream)" "$count"
  done
done
