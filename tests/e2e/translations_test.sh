#!/usr/bin/env bash
# The translations: every catalogue in po/ passes msgfmt's checks (its format, header and
# accelerators) and translates every text of the template that the build made from the
# sources, none left fuzzy; the template holds the texts that reach the catalogue through
# variables too.
# usage: translations_test.sh PO_DIR TEMPLATE
. "$(dirname "$0")/lib.sh"
po=$(readlink -f "$1")
template=$(readlink -f "$2")
for tool in msgfmt msgcmp; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

for catalogue in "$po"/*.po; do
  name=$(basename "$catalogue")
  expect_status 0 "msgfmt --check $name" -- msgfmt --check --check-accelerators=_ -o /dev/null "$catalogue"
  expect_status 0 "$name translates the whole template" -- msgcmp "$catalogue" "$template"
done
checks=$((checks + 1))
[ "$(ls "$po"/*.po | wc -l)" -ge 2 ] || fail "fewer catalogues than German and French"
for text in "Select a folder to extract:" "Executables (*.aze)" "Browse for the archive" "password:"; do
  expect_match "the template holds \"$text\"" "$(cat "$template")" "^msgid \"${text//[()*.]/.}\"$"
done
finish
