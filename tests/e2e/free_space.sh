#!/usr/bin/env bash
# Room first: aze extract and a self-extracting run (with and without arguments) into a
# destination too small for the tree refuse it before their first write, with one line that
# names both figures; a destination with room extracts. The small destinations are tmpfs
# mounts, so the test needs root (it skips otherwise).
# usage: free_space.sh AZE PROBE
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
probe=$(readlink -f "$2")
cd "$work"
unset DISPLAY WAYLAND_DISPLAY
mounts=()
trap 'for m in "${mounts[@]}"; do umount "$m"; done; rm -rf "$work"' EXIT
# mount_small FOLDER SIZE: a tmpfs of SIZE bytes at FOLDER.
mount_small() {
  mkdir -p "$1" && mount -t tmpfs -o "size=$2,mode=755" tmpfs "$1" 2>/dev/null || return 1
  mounts+=("$work/$1")
}
if ! mount_small small $((1024 * 1024)); then
  echo "skipped: a tmpfs cannot be mounted here (the test needs root)"
  exit 77
fi

mkdir -p tree/sub && head -c 2000000 /dev/zero >tree/zeros && printf 'a\n' >tree/sub/a.txt
"$aze" create -o tree.aze tree >/dev/null || fail "aze create"
"$aze" sfx -o tree.run --stub "$probe" tree.aze >/dev/null || fail "aze sfx"
expected=$(describe_tree tree)
figures='\([0-9,]+ bytes needed, [0-9,]+ free\)'

expect_status 3 "aze extract into too little room" -- "$aze" extract -C small/out tree.aze
expect_match "its line names both figures" "$err" \
  "^aze: not enough free space at the destination: $work/small/out $figures$"
[ -e small/out ] && fail "aze extract left the folder it made for a tree refused for room"
mkdir small/existing
expect_status 3 "aze extract into too little room, the folder there" -- \
  "$aze" extract -C small/existing tree.aze
[ -d small/existing ] || fail "aze extract removed a folder it did not make"
expect_status 204 "the program into too little room" -- ./tree.run --target small/t --quiet
expect_match "its trace names both figures" "$err" "not enough free space in $work/small/t $figures"
expect_equal "nothing was written into the small destination" "$(find small -type f)" ""

# Without arguments, beside the program: the run fails (1) and writes nothing.
mount_small nest $(($(stat -c %s tree.run) + 512 * 1024)) || fail "mount nest"
cp tree.run nest/
expect_status 0 "the program without arguments, with too little room beside it" -- \
  sh -c 'cd nest && ./tree.run'
expect_equal "its result" "$out" "result 1"
expect_equal "nothing was written beside it" "$(find nest -type f | grep -vx nest/tree.run)" ""

# With room, every front end extracts.
mount_small roomy $((8 * 1024 * 1024)) || fail "mount roomy"
expect_status 0 "aze extract with room" -- "$aze" extract -C roomy/out tree.aze
expect_equal "aze extract with room: the tree" "$(describe_tree roomy/out)" "$expected"
expect_status 0 "the program with room" -- ./tree.run --target roomy/t --quiet
expect_equal "the program with room: the tree" "$(describe_tree roomy/t)" "$expected"
finish
