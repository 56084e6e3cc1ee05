#!/usr/bin/env bash
# A destination prepared by someone else, or changed while the extraction runs: aze extract and
# a self-extracting program replace what they find and never write through it, a killed or
# failed write leaves the old file whole, and the self-extracting run writes only into a folder
# of its own. PROBE stands in for winqor's self-extracting run (it prints "result N").
# usage: hostile_destination.sh AZE PROBE
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
probe=$(readlink -f "$2")
cd "$work"
umask 022
make_sample_archives "$aze"

md5_of() { md5sum <"$1" | cut -d' ' -f1; }
# Temporaries of a run that did not finish, anywhere below a folder.
temporaries() { find "$1" -name '.winqor-*.partial' | wc -l; }
is_root() { [ "$(id -u)" -eq 0 ]; }

# --- a run killed while it replaces a file: the old file stays whole ---
mkdir killed && printf 'old readme' >killed/README.txt
# Every rename is held, so the run stops with README.txt complete under its temporary name.
# strace writes a held call's name as it enters it: reading that from a pipe is the signal
# that the run is there.
mkfifo trace
strace -f -o trace -e trace=rename,renameat,renameat2 \
  -e inject=rename,renameat,renameat2:delay_enter=60000000 \
  "$aze" extract -C killed plain.aze >/dev/null 2>&1 &
tracer=$!
exec 3<trace
checks=$((checks + 1))
read -r -t 60 -d '(' -u 3 call || fail "the held run never reached its rename"
pkill -KILL -P "$tracer"
kill -KILL "$tracer" 2>/dev/null
wait "$tracer" 2>/dev/null
exec 3<&-
expect_equal "the old file after the kill" "$(cat killed/README.txt)" "old readme"
expect_equal "the temporary is the only trace" "$(ls -A killed | grep -c '^\.winqor-[0-9-]*\.partial$')" "1"

# --- a full disk while replacing: the old file stays, no temporary is left ---
mkdir full && printf 'old tool' >full/tool.bin
expect_status 3 "extraction onto a full disk" -- bash -c 'ulimit -f 40; exec "$0" extract -C full plain.aze' "$aze"
expect_equal "the old file after a full disk" "$(cat full/tool.bin)" "old tool"
expect_equal "no temporary after a full disk" "$(temporaries full)" "0"

# --- two extractions at once into one folder: every file whole from one archive or the other ---
mkdir other && printf 'other readme\n' >other/README.txt && head -c 70000 /dev/urandom >other/tool.bin
"$aze" create -o other.aze other >/dev/null || fail "aze create failed"
for round in 1 2 3 4 5; do
  "$aze" extract -C both plain.aze >/dev/null 2>&1 &
  first=$!
  "$aze" extract -C both other.aze >/dev/null 2>&1
  wait "$first"
  for pair in "README.txt $readme_md5" "tool.bin $tool_md5"; do
    set -- $pair
    checks=$((checks + 1))
    sum=$(md5_of "both/$1")
    [ "$sum" = "$2" ] || [ "$sum" = "$(md5_of "other/$1")" ] ||
      fail "round $round: $1 is whole from neither archive"
  done
done

# --- another user's file at a file's name: replaced by a file of the user who extracts ---
if is_root; then
  mkdir shared && chmod 1777 shared
  as_nobody sh -c 'printf theirs >shared/README.txt; chmod 666 shared/README.txt'
  expect_status 0 "extraction over another user's file" -- "$aze" extract -C shared plain.aze
  expect_equal "the replaced file's owner" "$(stat -c %U shared/README.txt)" "root"
  checks=$((checks + 1))
  ! as_nobody sh -c 'printf x >>shared/README.txt' 2>/dev/null || fail "the other user can still write it"
fi

# --- default destinations with a stem of . or .. ---
mkdir -p dots/in && cp plain.aze dots/in/..aze && cp plain.aze dots/in/...aze
before=$(describe_tree dots)
expect_status 0 "extracting ..aze by default" -- sh -c "cd dots/in && '$aze' extract ..aze"
expect_status 0 "extracting ...aze by default" -- sh -c "cd dots/in && '$aze' extract ...aze"
expect_equal "..aze's folder" "$(md5_of dots/in/..aze.d/README.txt)" "$readme_md5"
expect_equal "...aze's folder" "$(md5_of dots/in/...aze.d/README.txt)" "$readme_md5"
expect_equal "nothing beside them" "$(describe_tree dots | grep -v '\.aze\.d')" "$before"
"$aze" sfx -o dots/in/...run --stub "$probe" plain.aze >/dev/null || fail "aze sfx failed"
expect_status 0 "a self-extracting ...run" -- dots/in/...run
expect_equal "...run's folder" "$(md5_of dots/in/...run.d/README.txt)" "$readme_md5"
[ ! -e dots/README.txt ] || fail "...run extracted into its parent folder"

# --- the self-extracting run's output folder prepared by someone else ---
mkdir dist elsewhere
"$aze" sfx -o dist/pack.run --stub "$probe" plain.aze >/dev/null || fail "aze sfx failed"
ln -s ../elsewhere dist/pack
expect_status 0 "a run whose output folder is a link" -- dist/pack.run
expect_equal "its result" "$out" "result 1"
expect_match "its line" "$err" "winqor: $work/dist/pack: refused the output folder: it is a symbolic link"
expect_equal "nothing in the link's target" "$(ls -A elsewhere)" ""
if is_root; then
  rm dist/pack && mkdir dist/pack && chown 65534:65534 dist/pack
  expect_status 0 "a run whose output folder is another user's" -- dist/pack.run
  expect_match "its line" "$err" "refused the output folder: it belongs to another user"
  expect_equal "nothing in that folder" "$(ls -A dist/pack)" ""
fi

finish
