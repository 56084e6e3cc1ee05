#!/usr/bin/env bash
# A destination prepared by someone else, or changed while the extraction runs: aze extract and
# a self-extracting program replace what they find and never write through it, a killed or
# failed write leaves the old file whole, the self-extracting run writes only into folders of
# its own that nobody else can write to, and nothing it may start can be rewritten by another
# user before it starts. A folder 1000 deep extracts whole. PROBE stands in for winqor's
# self-extracting run (it prints "result N").
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
# The held rename is the sandboxed child's, below aze: every process below strace is killed at
# once, before strace itself, whose end would let a held call go on.
descendants() { local child; for child in $(pgrep -P "$1"); do descendants "$child"; echo "$child"; done; }
kill -KILL $(descendants "$tracer") 2>/dev/null
kill -KILL "$tracer" 2>/dev/null
wait "$tracer" 2>/dev/null
exec 3<&-
expect_equal "the old file after the kill" "$(cat killed/README.txt)" "old readme"
# Nothing has its name yet: the files wait under temporary names, the new folders too.
expect_equal "temporaries are the only trace" "$(ls -A killed | grep -v '^\.winqor-[0-9-]*\.partial$')" \
  "README.txt"
expect_equal "the run had written to the side" "$(ls -A killed | grep -c '^\.winqor-[0-9-]*\.partial$')" "3"

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

# Everything in the current folder except below DEST.
outside() { describe_tree . | grep -vE "^[DF] $1(/| |$)"; }

# --- a folder 1000 deep, and a sibling reached back up from its bottom ---
mkdir deep-test && cd deep-test
deep_path=$(printf 'd/%.0s' $(seq 1000))
mkdir -p "deep/$deep_path" deep/z && printf 'bottom' >"deep/${deep_path}bottom.txt" && printf 'top' >deep/z/top.txt
"$aze" create -o deep.aze deep >/dev/null || fail "aze create of a deep folder"
before=$(outside out)
expect_status 0 "aze extract of a folder 1000 deep" -- "$aze" extract -C out deep.aze
expect_equal "the deep tree" "$(describe_tree out)" "$(describe_tree deep)"
expect_equal "nothing beside it" "$(outside out)" "$before"
cd "$work"

# --- folders another user can change, where a run may start a program (the superuser only) ---
mkdir strict logs && cd strict
mkdir setup-src && printf '#!/bin/sh\necho packed >said\n' >setup-src/Setup.exe
mkdir setup-src/docs && printf 'doc\n' >setup-src/docs/a.txt
mkdir dist && "$aze" sfx -o dist/held.run --stub "$probe" --run-setup setup-src >/dev/null || fail "aze sfx held"
if is_root && command -v strace >/dev/null; then
  # Umask 000, and Setup.exe's start held: another user tries to rewrite it meanwhile.
  before=$(outside dist/held)
  mkfifo ../logs/trace ../logs/held.out
  exec 5<>../logs/held.out # the run's one line of output, read when it comes
  (umask 000 && exec env ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" strace -f -o ../logs/trace \
    -e trace=execveat -e inject=execveat:delay_enter=60000000 dist/held.run >../logs/held.out 2>../logs/held.err) &
  tracer=$!
  exec 4<../logs/trace
  checks=$((checks + 1))
  read -r -t 60 -d '(' -u 4 call || fail "the held run never reached Setup.exe's start"
  checks=$((checks + 1))
  ! as_nobody sh -c 'printf "#!/bin/sh\necho swapped >said\n" >dist/held/Setup.exe' 2>/dev/null ||
    fail "another user rewrote Setup.exe before it started"
  expect_equal "modes under umask 000 (Setup.exe, its folder, a file, a folder)" \
    "$(stat -c %a dist/held/Setup.exe dist/held dist/held/docs/a.txt dist/held/docs | tr '\n' ' ')" "744 755 644 755 "
  kill -KILL "$tracer" # the run goes on without its tracer
  wait "$tracer" 2>/dev/null
  exec 4<&-
  read -r -t 60 -u 5 held || held="no result within a minute"
  exec 5<&-
  expect_equal "the held run" "$held" "result 1"
  expect_equal "the packed Setup.exe ran" "$(cat dist/held/said 2>/dev/null)" "packed"
  expect_equal "nothing outside the held run's folder" "$(outside dist/held)" "$before"

  # The self-extracting run: its output folder, then a folder below it, prepared by another.
  # CASE: output folder mode, owner of docs/ in it ("" when absent), the line the run gives.
  cases=(
    "777||$PWD/dist/pack: refused the output folder: others can write to it"
    "755|nobody|$PWD/dist/pack/docs: refused a folder: it belongs to another user"
    "1777||$PWD/dist/pack: refused the output folder: others can write to it"
  )
  "$aze" sfx -o dist/pack.run --stub "$probe" --run-setup setup-src >/dev/null || fail "aze sfx pack"
  for case in "${cases[@]}"; do
    IFS='|' read -r mode docs line <<<"$case"
    rm -rf dist/pack && mkdir -p dist/pack && chmod "$mode" dist/pack
    [ -z "$docs" ] || { mkdir dist/pack/docs && chown "$docs" dist/pack/docs; }
    before=$(outside dist/pack)
    expect_status 0 "a run into $case" -- dist/pack.run
    expect_equal "its result" "$out" "result 1"
    expect_match "its line" "$err" "winqor: $line"
    [ ! -e dist/pack/said ] || fail "$case: Setup.exe was started"
    expect_equal "$case: nothing in the foreign folder" "$(ls -A dist/pack/docs 2>/dev/null)" ""
    expect_equal "$case: nothing outside" "$(outside dist/pack)" "$before"
  done

  # aze extract by the superuser into a folder others can write to (its choice): the folders
  # found below it. CASE: owner, group and mode of docs/, the status, the message ("" for none).
  root_group_alone=$([ -z "$(getent group 0 | cut -d: -f4)" ] && [ "$(awk -F: '$4 == 0' /etc/passwd | wc -l)" = 1 ] && echo yes)
  cases=(
    "nobody|root|755|3|refused a folder: it belongs to another user"
    "root|root|777|3|refused a folder: others can write to it"
    "root|nogroup|775|3|refused a folder: others can write to it"
  )
  [ "$root_group_alone" = yes ] && cases+=("root|root|775|0|") || skip_checks 1 "the root group holds other users"
  for case in "${cases[@]}"; do
    IFS='|' read -r owner group mode want message <<<"$case"
    rm -rf shared2 && mkdir -p shared2/docs && chmod 777 shared2
    chown "$owner:$group" shared2/docs && chmod "$mode" shared2/docs
    before=$(outside shared2)
    expect_status "$want" "aze extract as root over docs/ $case" -- "$aze" extract -C shared2 ../plain.aze
    if [ -n "$message" ]; then
      expect_equal "its message" "$err" "aze: $message: $PWD/shared2/docs"
      expect_equal "$case: nothing in docs/" "$(ls -A shared2/docs)" ""
    fi
    expect_equal "$case: nothing outside" "$(outside shared2)" "$before"
  done
else
  skip_checks 38 "only the superuser can play another user here, under strace"
fi
cd "$work"

finish
