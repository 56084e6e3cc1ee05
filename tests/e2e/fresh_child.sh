#!/usr/bin/env bash
# The sandboxed child is this program started afresh from the file it was started from: seen
# from the parent, every front end's child runs the parent's own program file, started with the
# child's private first argument, with no thread but its own before the decoder's; and a
# program file replaced on disk while the parent runs does not change what the child runs.
# usage: fresh_child.sh AZE WINQOR
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
winqor=$(readlink -f "$2")
cd "$work"
make_sample_archives "$aze"
mkdir tree && printf 'setup\n' >tree/Setup.txt
"$aze" sfx -o inst.run --stub "$winqor" tree >/dev/null || fail "aze sfx failed"

# The parent looks at the child once it runs the program, before it hands it the request.
observed="sandbox observer: program: the running one; started as: winqor \(sandboxed extraction\); threads: 1"
# front end|command
runs="aze list|$aze -v list plain.aze
aze list --json|$aze -v list --json plain.aze
aze test|$aze -v test plain.aze
aze extract|$aze -v extract -C out-aze plain.aze
self-extracting run|$work/inst.run
self-extracting run --check|$work/inst.run --check
self-extracting run --target|$work/inst.run --target $work/out-target"
while IFS='|' read -r front command; do
  # shellcheck disable=SC2086 # the command is split into its words on purpose
  expect_status 0 "$front" -- env -u DISPLAY WINQOR_TEST_OBSERVE_CHILD=1 $command
  if ! printf '%s' "$err" | grep -q "sandbox observer"; then
    skip_checks "$(printf '%s\n' "$runs" | wc -l)" "this build carries no sandbox seam (WINQOR_TEST_SEAMS) to look at the child"
    break
  fi
  expect_match "$front: the child" "$err" "$observed"
done <<<"$runs"

# A copy of aze that waits for its password on standard input, replaced on disk meanwhile by a
# program that would leave a mark and say nothing: the child is still the copy that runs.
cp "$aze" aze-copy
mkfifo go
(read -r _ <go; cat sample-password) | ./aze-copy extract -C out-replaced --password-file - \
  encrypted.aze >replaced.out 2>replaced.err &
run=$!
until [ "$(readlink "/proc/$run/exe" 2>/dev/null)" = "$work/aze-copy" ]; do :; done
printf '#!/bin/sh\ntouch "%s/replacement-ran"\n' "$work" >replacement
chmod 755 replacement
mv replacement aze-copy
echo go >go
wait "$run" && status=0 || status=$?
expect_equal "the run of a replaced program: status" "$status" 0
expect_equal "the run of a replaced program: the tree" "$(describe_tree out-replaced)" "$expected"
[ ! -e replacement-ran ] || fail "the child ran the file that replaced the program"

finish
