#!/usr/bin/env bash
# A self-extracting program's switches, run for real: where it unpacks, whether it starts
# Setup.exe and with which arguments, how it gets a password, its log and its exit statuses.
# PROBE stands in for winqor (it runs the same code when given arguments); the Setup.exe that
# the archives carry records its working folder and each argument on a line of its own.
# usage: sfx_switches.sh AZE PROBE PACK_TREE
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
probe=$(readlink -f "$2")
pack=$(readlink -f "$3")
cd "$work"
unset DISPLAY WAYLAND_DISPLAY

# make_program NAME SETUP [PACK_TREE OPTIONS...]: NAME.run carrying a tree with that Setup.exe
# (and a data file); it runs Setup.exe.
make_program() {
  local name=$1 setup=$2
  shift 2
  mkdir -p "tree-$name/lib" && printf 'data\n' >"tree-$name/lib/data.txt"
  printf '%s' "$setup" >"tree-$name/Setup.exe"
  "$pack" "tree-$name" "$name.aze" --run-setup "$@" || fail "pack_tree $name"
  "$aze" sfx -o "$name.run" --stub "$probe" "$name.aze" >/dev/null || fail "aze sfx $name"
}
# Records its folder and arguments; exits with $SETUP_EXIT. Started with "linger", it leaves a
# process behind that, once the test lets it go, notes whether its folder is still there.
recorder='#!/bin/sh
pwd >"$RECORD"
for argument in "$@"; do printf "%s\n" "$argument" >>"$RECORD"; done
if [ "$1" = linger ]; then
  (read go <"$GATE"; [ -f Setup.exe ] && echo "folder kept" >>"$RECORD") &
fi
exit "${SETUP_EXIT:-0}"
'
make_program app "$recorder"
make_program enc "$recorder" --password Secret1
make_program broken 'not a program: no interpreter line'
cp app.aze damaged.aze
printf '\x00\x00\x00\x00' | dd of=damaged.aze bs=1 seek=300 conv=notrunc status=none
"$aze" sfx -o damaged.run --stub "$probe" damaged.aze >/dev/null || fail "aze sfx damaged"
printf 'Secret1\n' >right && printf 'wrong\n' >wrong && printf 'a file' >blocker
export RECORD=$work/record GATE=$work/gate
mkfifo "$GATE"
aze_listing=$("$aze" list app.aze)

# The table: exit status | what Setup.exe recorded ("-": not started) | the folder that must
# hold the tree ("-": none is looked at) | what | the program and its arguments.
# Paths in the record are relative to $work.
while IFS='|' read -r want record tree what command; do
  [ -n "$want" ] || continue
  rm -f record
  eval "set -- $command"
  expect_status "$want" "$what" -- "$@"
  got=$( [ -f record ] && sed "s|^$work/||" record | tr '\n' '^' || echo -)
  expect_equal "$what: Setup.exe's record" "$got" "$record"
  if [ "$tree" != - ]; then
    expect_equal "$what: the tree" "$(describe_tree "$tree")" "$(describe_tree tree-app)"
  fi
done <<'TABLE'
0|app^|app|no switch but --: beside the program, Setup.exe without arguments|./app.run --
0|t1^/S^a b^|t1|--target, then Setup.exe's own|./app.run --target t1 /S "a b"
0|t2^--target^say "hi"^C:\dir\^|t2|after --, switches are Setup.exe's|./app.run --target=t2 -- --target 'say "hi"' 'C:\dir\'
204|-|-|--target makes one level only|./app.run --target t3/new x
0|-|t4|--extract-only starts nothing|./app.run --extract-only --target t4
42|app^|-|Setup.exe's status passes through|env SETUP_EXIT=42 ./app.run --quiet
203|-|-|--quiet on an encrypted program without a password|./enc.run --quiet --target t5
0|t6^|t6|--password-file|./enc.run --password-file right --target t6 --quiet
0|t7^|t7|--password-file from standard input|sh -c './enc.run --password-file - --target t7 <right'
203|-|-|no password given: no display, no terminal|sh -c './enc.run --target t8 </dev/null'
202|-|-|a wrong password|./enc.run --password-file wrong --target t9
201|-|-|an unreadable password file|./enc.run --password-file missing --target t9
202|-|-|a damaged archive|./damaged.run --target t10
204|-|-|the target is a file|./app.run --target blocker
205|-|-|Setup.exe cannot be started|./broken.run --target t11
201|-|-|a switch without its value|./app.run --target
201|-|-|contradicting switches|./app.run --temp --target t12
0|-|-|--check|./app.run --check
0|-|-|--list|./app.run --list
0|-|-|--help|./app.run --help
TABLE
for unused in t3 t5 t8 t9 t12; do
  [ ! -e "$unused" ] || fail "a run that failed before writing created $unused"
done

./app.run --list >listing 2>/dev/null
expect_equal "--list lists as aze list does" "$(cat listing)" "$aze_listing"
expect_match "--check says OK" "$(./app.run --check 2>/dev/null)" "^OK \(1 folders, 2 files, [0-9]+ bytes\)$"
# The exit-status table is one: --help, winqor(1) and the README give the same codes.
help=$(./app.run --help 2>/dev/null)
sources=$(readlink -f "$(dirname "$0")/../..")
codes=$(sed -n '/^Exit status:/,$p' <<<"$help" | grep -oE '^  [0-9]+ ' | tr -d ' ')
expect_equal "--help's exit statuses" "$(echo $codes)" "0 201 202 203 204 205 206"
if command -v groff >/dev/null; then
  page=$(groff -man -Tutf8 -P-cbou "$sources/docs/man/winqor.1" 2>/dev/null)
  for code in $codes; do
    expect_match "winqor(1) gives exit status $code" "$page" "^ {7}$code( |\$)"
  done
else
  skip_checks 7 "groff is not installed (winqor(1))"
fi
for code in $codes; do
  expect_match "the README gives exit status $code" "$(cat "$sources/README.md")" "^\\| $code \\|"
done

# --temp: a private folder in $TMPDIR, removed once Setup.exe and what it left running ended.
mkdir tmp
rm -f record
TMPDIR=$work/tmp ./app.run --temp linger 2>/dev/null &
run=$!
echo go >"$GATE"
wait "$run" && status=0 || status=$?
expect_equal "--temp: the status" "$status" 0
expect_match "--temp: Setup.exe ran in a private folder" "$(head -n 1 record)" "^$work/tmp/winqor-[A-Za-z0-9]{6}$"
expect_equal "--temp: the folder outlived what Setup.exe left running" "$(tail -n 1 record)" "folder kept"
expect_equal "--temp: then it was removed" "$(ls -A tmp)" ""

# --log: the trace, after a first line naming the program and its arguments; owner-only.
rm -rf t13
expect_status 7 "--log" -- env SETUP_EXIT=7 ./app.run --log run.log --target t13 "a b"
log=$(cat run.log)
expect_equal "the log's first line" "$(head -n 1 run.log)" "winqor 1.0: $work/app.run --log run.log --target t13 \"a b\""
expect_match "the log holds the trace from the start" "$log" "found SETUP_ARCHIVE resource"
expect_match "and the extraction" "$log" "OutputFolder:$work/t13"
expect_equal "and ends with the status" "$(tail -n 1 run.log)" "winqor: exit status 7: Setup.exe's own status"
expect_equal "the log is the owner's only" "$(stat -c %a run.log)" "600"
expect_status 205 "--log appends" -- ./broken.run --log run.log --target t14
expect_equal "the second run's last line" "$(tail -n 1 run.log)" "winqor: exit status 205: Setup.exe could not be started"
expect_match "the status is on the debug channel too" "$err" "winqor: exit status 205"
finish
