#!/usr/bin/env bash
# A licence carried by a self-extracting program: aze sfx --license takes only a text it can
# carry; the built winqor, without a display, asks on the terminal (paged, y accepts), takes
# --accept, fails with 206 under --quiet and with no way to ask, and writes nothing until the
# licence is accepted; reading the program (aze list/test/extract, --list, --check, --info) asks
# nothing, and a program without a licence runs as it always has.
# usage: licence.sh AZE WINQOR
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
winqor=$(readlink -f "$2")
type_on=$(dirname "$(readlink -f "$0")")/type_on_terminal.sh
cd "$work"
unset DISPLAY WAYLAND_DISPLAY

mkdir -p tree/lib && printf 'data\n' >tree/lib/data.txt && printf 'top\n' >tree/top.txt
printf 'The terms of use.\nYou may run it.\n' >terms.txt
seq -f 'licence line %g' 1 30 >long.txt
expected=$(describe_tree tree)
"$aze" sfx -o lic.run --stub "$winqor" --license terms.txt tree >/dev/null || fail "aze sfx --license"
"$aze" sfx -o long.run --stub "$winqor" --license long.txt tree >/dev/null || fail "aze sfx long"
"$aze" sfx -o plain.run --stub "$winqor" tree >/dev/null || fail "aze sfx without a licence"

# Licences aze sfx refuses, each with one line and no program written.
head -c $((256 * 1024)) /dev/zero | tr '\0' 'a' >largest.txt
{ cat largest.txt; printf 'a'; } >too-large.txt
: >empty.txt
printf 'caf\xe9\n' >latin1.txt
printf 'hidden\033[2J\n' >escape.txt
while IFS='|' read -r what file message; do
  [ -n "$what" ] || continue
  rm -f refused.run
  expect_status 2 "--license $what" -- "$aze" sfx -o refused.run --license "$file" tree
  expect_match "--license $what: the line says why" "$err" "$message"
  [ -e refused.run ] && fail "--license $what wrote the program"
done <<'TABLE'
a missing file|missing.txt|cannot read the licence
a folder|tree|cannot read the licence
an empty file|empty.txt|the licence is empty
one byte over 256 KiB|too-large.txt|larger than 262,144 bytes
not UTF-8|latin1.txt|not UTF-8
a terminal command|escape.txt|control character
TABLE
expect_status 0 "--license of exactly 256 KiB" -- "$aze" sfx -o largest.run --license largest.txt tree
printf '\xef\xbb\xbfmarked\n' >marked.txt
expect_status 0 "--license with a byte order mark" -- "$aze" sfx -o marked.run --license marked.txt tree
expect_status 0 "aze info of the marked program" -- "$aze" info marked.run
expect_match "the byte order mark is not carried" "$out" "^licence: 7 bytes$"

# The table: exit status | the folder that must hold the tree ("-": none may exist) | what |
# the command.
while IFS='|' read -r want tree what command; do
  [ -n "$want" ] || continue
  rm -rf lic out-*
  expect_status "$want" "$what" -- sh -c "$command </dev/null"
  if [ "$tree" = - ]; then
    for folder in lic out-*; do [ -e "$folder" ] && fail "$what: wrote $folder"; done
  else
    expect_equal "$what: the tree" "$(describe_tree "$tree")" "$expected"
  fi
done <<'TABLE'
206|-|--quiet without --accept|./lic.run --quiet --target out-q
206|-|--quiet, beside the program|./lic.run --quiet
206|-|no display and no terminal|./lic.run --target out-n
1|-|no arguments, no display and no terminal|./lic.run
0|out-a|--accept|./lic.run --accept --quiet --target out-a
0|lic|--accept, beside the program|./lic.run --accept
0|-|--list asks nothing|./lic.run --list --quiet
0|-|--check asks nothing|./lic.run --check --quiet
0|-|--info asks nothing|./lic.run --info --quiet
0|out-p|no licence: as before|./plain.run --quiet --target out-p
0|plain|no licence, no arguments: as before|./plain.run
TABLE
rm -rf plain
expect_status 0 "aze list of a licensed program" -- "$aze" list lic.run
expect_status 0 "aze test of a licensed program" -- "$aze" test lic.run
expect_status 0 "aze extract of a licensed program" -- "$aze" extract -C out-x lic.run
expect_equal "aze extract of a licensed program: the tree" "$(describe_tree out-x)" "$expected"
expect_status 0 "--help" -- ./lic.run --help
expect_match "--help tells --accept and 206" "$out" "--accept.*"
expect_match "--help tells 206" "$out" "206 +the licence was not accepted"

# On a terminal: the text, then the question; n declines, y accepts; a long licence comes a
# screenful at a time (9 lines and the prompt on 10 rows), Enter showing the next.
question="Do you accept this licence?"
while IFS='|' read -r want tree what command answers; do
  [ -n "$want" ] || continue
  rm -rf lic long out-*
  eval "set -- $answers"
  checks=$((checks + 1))
  bash "$type_on" terminal.log "$command" "$@" && status=0 || status=$?
  [ "$status" -eq "$want" ] || fail "$what: exit $status, wanted $want ($(tr -d '\r' <terminal.log | tail -n 3))"
  if [ "$tree" = - ]; then
    for folder in lic long out-*; do [ -e "$folder" ] && fail "$what: wrote $folder"; done
  else
    expect_equal "$what: the tree" "$(describe_tree "$tree")" "$expected"
  fi
  expect_match "$what: the licence was shown" "$(tr -d '\r' <terminal.log)" "(You may run it|licence line 9)"
done <<'TABLE'
206|-|terminal: n declines|./lic.run --target out-t|"$question" n
0|out-t|terminal: y accepts|./lic.run --target out-t|"$question" y
1|-|terminal, no arguments: n|./lic.run|"$question" n
0|lic|terminal, no arguments: y|./lic.run|"$question" y
206|-|terminal: the input ends|./lic.run --target out-t|"$question"
0|out-l|terminal: paged|stty rows 10 cols 80; ./long.run --target out-l|"-- more" "" "-- more" "" "-- more" "" "$question" y
206|-|terminal: n at a page break|stty rows 10 cols 80; ./long.run --target out-l|"-- more" n
TABLE
shown=$(tr -d '\r' <terminal.log)
expect_match "a page break comes after 9 lines" "$shown" "licence line 9"
printf '%s' "$shown" | grep -q "licence line 10" && fail "n at the first page break showed the second page"
finish
