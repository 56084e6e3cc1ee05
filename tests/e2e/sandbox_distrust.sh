#!/usr/bin/env bash
# The parent distrusts the sandboxed child: a child that lies about the folder it entered last,
# floods the channel or never ends makes the run fail with nothing created outside; a folder
# that is plain but missing is not created either. When no child can be started, the run fails
# with one line instead of going on unconfined.
# usage: sandbox_distrust.sh AZE WINQOR
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
winqor=$(readlink -f "$2")
cd "$work"
make_sample_archives "$aze"

WINQOR_TEST_NO_CHILD=1 "$aze" test plain.aze >/dev/null 2>seam.err
grep -q "refused for this test" seam.err || { echo "skipped: this build carries no sandbox seam (WINQOR_TEST_SEAMS)"; exit 77; }

broken="aze: the sandboxed process that read the archive failed: the sandboxed process was killed"
# lie, then the status of aze extract -C d-N and what its error says
lies="folder:..,escaped|4|$broken: it sent a message that breaks the rules
folder:$work/absolute|4|$broken: it sent a message that breaks the rules
folder:.|4|$broken: it sent a message that breaks the rules
flood|4|$broken: it announced a message of [0-9]+ bytes
hang|4|$broken: it ran longer than 1 seconds
folder:missing|0|^extracted "
n=0
while IFS='|' read -r lie status message; do
  n=$((n + 1))
  expect_status "$status" "lie $lie" -- env WINQOR_TEST_LIE="$lie" WINQOR_TEST_CHILD_SECONDS=1 \
    "$aze" extract -C "d-$n" plain.aze
  expect_match "lie $lie: what it says" "$out$err" "$message"
  [ "$status" -eq 0 ] || expect_equal "lie $lie: no line of success" "$out" ""
  expect_equal "lie $lie: nothing new beside the folders" "$(ls | grep -v '^d-' | LC_ALL=C sort | paste -sd' ')" \
    "encrypted.aze plain.aze sample-password sample-tree seam.err stderr"
  [ ! -e "$work/absolute" ] && [ ! -e "d-$n/missing" ] || fail "lie $lie: a folder it named was created"
done <<<"$lies"

expect_status 4 "aze extract without a child" -- env WINQOR_TEST_NO_CHILD=1 "$aze" extract plain.aze
expect_equal "one line" "$err" \
  "aze: cannot start the sandboxed process that reads the archive: cannot start the sandboxed process: refused for this test"
[ ! -e plain ] || fail "the destination made for a run that never started stayed"
expect_status 4 "aze list without a child" -- env WINQOR_TEST_NO_CHILD=1 "$aze" list plain.aze
expect_equal "aze list lists nothing" "$out" ""

mkdir tree && printf 'setup\n' >tree/Setup.txt
"$aze" sfx -o inst.run --stub "$winqor" tree >/dev/null || fail "aze sfx failed"
expect_status 1 "a self-extracting program without a child" -- env -u DISPLAY WINQOR_TEST_NO_CHILD=1 ./inst.run
expect_match "it says why" "$err" "winqor: cannot start the sandboxed process: refused for this test"
[ -z "$(ls -A inst 2>/dev/null)" ] || fail "a self-extracting run without a child wrote files"

finish
