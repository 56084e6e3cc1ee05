#!/usr/bin/env bash
# Two builds of aze side by side: how much slower (or faster) the second extracts than the
# first, on the same archives, in interleaved rounds (medians). For a change's cost, e.g. the
# sandbox's: bench/versus.sh ../before/build/release build/release 15
# usage: bench/versus.sh BUILD_BEFORE BUILD_AFTER [REPS]
cd "$(dirname "$0")/.."
. bench/common.sh
before=$(find_aze "$1")
after=$(find_aze "$2")
reps=${3:-11}
work=$(make_work_dir)
trap 'rm -rf "$work"' EXIT

# Both builds extract the archive the second one made; the order alternates by round so that
# neither always runs on the cache the other warmed.
run_case() {
  local name=$1 tree=$2 i a=() b=()
  "$after" create -o "$work/$name.aze" "$tree" > /dev/null
  for ((i = 0; i < reps; i++)); do
    sync
    if ((i % 2)); then
      b+=("$(elapsed "$after" extract -C "$work/$name.b.$i" "$work/$name.aze")")
      a+=("$(elapsed "$before" extract -C "$work/$name.a.$i" "$work/$name.aze")")
    else
      a+=("$(elapsed "$before" extract -C "$work/$name.a.$i" "$work/$name.aze")")
      b+=("$(elapsed "$after" extract -C "$work/$name.b.$i" "$work/$name.aze")")
    fi
  done
  local ma mb
  ma=$(median "${a[@]}") mb=$(median "${b[@]}")
  printf '%-18s before %8s ms   after %8s ms   after / before %sx\n' "$name" "$(ms "$ma")" \
    "$(ms "$mb")" "$(ratio "$mb" "$ma")"
}

make_mixed_tree "$work/mixed"
make_many_files_tree "$work/many"
echo "$reps interleaved rounds; $(nproc) processors, load $(cut -d' ' -f1 /proc/loadavg)"
run_case "10 MB mixed tree" "$work/mixed"
run_case "2,400-file tree" "$work/many"
