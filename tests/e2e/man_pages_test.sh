#!/usr/bin/env bash
# The manual pages format without a warning, and aze's page names every option and every
# exit status that aze itself knows.
# usage: man_pages_test.sh MAN_DIR AZE
. "$(dirname "$0")/lib.sh"
pages=$(readlink -f "$1")
aze=$(readlink -f "$2")
command -v groff > /dev/null || { echo "SKIP: groff is not installed"; exit 77; }

for page in "$pages"/*.1; do
  expect_status 0 "groff on $(basename "$page")" -- groff -man -Tutf8 -ww -z "$page"
  expect_equal "no warnings on $(basename "$page")" "$err" ""
  for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES "SEE ALSO"; do
    checks=$((checks + 1))
    grep -qx "\.SH \"\?$section\"\?" "$page" || fail "$(basename "$page") has no $section section"
  done
done

# The page as a reader sees it, plain text.
text=$(groff -man -Tutf8 -P-cbou "$pages/aze.1" 2> /dev/null)
for command in "" create sfx list test extract info; do
  # shellcheck disable=SC2086
  expect_status 0 "aze $command --help" -- "$aze" $command --help
  for option in $(printf '%s\n' "$out" | grep -oE '^ +-[-a-zA-Z,]+' | tr ',' '\n' | tr -d ' '); do
    checks=$((checks + 1))
    # An entry of OPTIONS: "-v, --verbose", "-o OUT.aze", "--run-setup".
    grep -qE -- "^ {7}(-[-a-z]+, )?$option(,| |\$)" <<<"$text" || fail "aze.1 does not describe $option ($command)"
  done
  [ -n "$command" ] || continue
  checks=$((checks + 1))
  grep -qE "^ {7}$command\$|^ {7}$command +[A-Z]" <<<"$text" || fail "aze.1 does not describe aze $command"
done
for status in 0 1 2 3; do
  checks=$((checks + 1))
  grep -qE "^ {7}$status( |$)" <<<"$text" || fail "aze.1 does not describe exit status $status"
done
finish
