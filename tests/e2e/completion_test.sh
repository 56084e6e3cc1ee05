#!/usr/bin/env bash
# The bash completion of aze, driven the way bash drives it: COMP_WORDS and COMP_CWORD set,
# the function called, COMPREPLY compared, in a folder with an archive, other files and folders.
# usage: completion_test.sh COMPLETION_FILE
. "$(dirname "$0")/lib.sh"
. "$1"
cd "$work"
mkdir docs "my folder" && touch pack.aze OLD.AZE notes.txt "two words.aze" docs/inner.aze logo.ico

# completes LINE: the words of LINE with the cursor after the last one ("" = a new word).
completes() {
  local line=$1
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _aze
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' '
}

# "line|expected": the sorted replies, joined by spaces.
cases=(
  "aze |create extract info list sfx test"
  "aze e|extract"
  "aze -|--help --verbose --version -h -v"
  "aze -v l|list"
  "aze create |docs my folder"
  "aze create -|--exclude --exclude-from --help --password-file --reproducible --run-setup --verbose -h -o -v"
  "aze sfx --|--exclude --exclude-from --help --icon --license --password-file --reproducible --run-setup --stub --verbose --version-info --windows"
  "aze sfx --icon |docs logo.ico my folder"
  "aze sfx --version-info Prod|ProductName= ProductVersion="
  "aze create --exclude-from n|notes.txt"
  "aze sfx --exclude p|pack.aze"
  "aze extract -|--help --password-file --verbose -C -h -v"
  "aze list -|--help --json --password-file --verbose -h -v"
  "aze test -|--help --password-file --verbose -h -v"
  "aze test |OLD.AZE docs my folder pack.aze two words.aze"
  "aze list p|pack.aze"
  "aze extract docs/|docs/inner.aze"
  "aze sfx -o out |OLD.AZE docs my folder pack.aze two words.aze"
  "aze extract -C |docs my folder"
  "aze extract --password-file n|notes.txt"
  "aze test --password-file |- OLD.AZE docs logo.ico my folder notes.txt pack.aze two words.aze"
  "aze create -o p|pack.aze"
  "aze sfx --stub n|notes.txt"
  "aze sfx --license n|notes.txt"
  "aze info -|--help --json --verbose -h -v"
  "aze info p|pack.aze"
  "aze -v extract -C d|docs"
)
for entry in "${cases[@]}"; do
  line=${entry%%|*}
  checks=$((checks + 1))
  got=$(completes "$line")
  [ "$got" = "${entry#*|}" ] || fail "[$line]: got [$got], wanted [${entry#*|}]"
done

checks=$((checks + 1))
[ "$(complete -p aze)" = "complete -F _aze aze" ] || fail "aze is not bound: $(complete -p aze)"
finish
