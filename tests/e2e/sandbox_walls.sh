#!/usr/bin/env bash
# The child that reads an archive is a sandbox: taken over (the test builds' probe plays a
# decoder bug that runs the calls below before the payload is touched), it is refused every
# call that reaches outside its folder, through every front end that decodes. Threads and
# fchmod of its own new file stay allowed. Unconfined, the probe's calls succeed, so the test
# can fail.
# usage: sandbox_walls.sh AZE PROBE
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
probe=$(readlink -f "$2")
cd "$work"
make_sample_archives "$aze"
printf 'outside\n' >outside && chmod 644 outside

denied="Permission denied"
refused="Operation not permitted"
# call, then how it ends inside the sandbox
walls="read|$denied
write|$denied
chmod|$refused
fchmodat|$refused
chown|$refused
setxattr|$refused
tiocsti|$refused
execve|$refused
ptrace|$refused
fork|$refused
clone3|Function not implemented
socket|$refused
kill|$refused
mount|$refused
unshare|$refused
thread|done"
calls=$(cut -d'|' -f1 <<<"$walls" | paste -sd,)

WINQOR_TEST_FORBIDDEN=thread "$aze" -v test plain.aze >/dev/null 2>seam.err
grep -q "sandbox probe" seam.err || { echo "skipped: this build carries no sandbox probe (WINQOR_TEST_SEAMS)"; exit 77; }
if ! grep -q "sandbox: walls up: files.*system-call filter" seam.err; then
  echo "skipped: this system cannot put up the sandbox's walls: $(grep -i 'sandbox\|confined' seam.err)"
  exit 77
fi

mkdir tree && printf 'setup\n' >tree/Setup.txt
"$aze" sfx -o inst.run --stub "$probe" tree >/dev/null || fail "aze sfx failed"

# probed WHAT COMMAND...: runs COMMAND with every call probed; checks each line of the table.
probed() {
  local what=$1
  shift
  expect_status 0 "$what" -- env WINQOR_TEST_FORBIDDEN="$calls,fchmod" WINQOR_TEST_OUTSIDE="$work/outside" "$@"
  while IFS='|' read -r call ending; do
    expect_match "$what: $call" "$err" "sandbox probe: $call: $ending"
  done <<<"$walls"
  expect_match "$what says which walls are up" "$err" "sandbox: walls up: files \(Landlock ABI [0-9]+\)"
}

probed "aze extract" "$aze" -v extract -C a plain.aze
expect_match "aze extract: fchmod of its own file" "$err" "sandbox probe: fchmod: done"
expect_equal "aze extract still extracts" "$(describe_tree a)" "$expected"
probed "aze list" "$aze" -v list plain.aze
expect_match "aze list: no file right without a folder" "$err" "sandbox probe: fchmod: $denied"
probed "aze test of an encrypted archive" "$aze" -v test --password-file sample-password encrypted.aze
probed "a self-extracting program" ./inst.run
expect_match "the self-extracting run: fchmod of its own file" "$err" "sandbox probe: fchmod: done"
"$aze" sfx -o check.run tree >/dev/null || fail "aze sfx with winqor failed"
probed "a self-extracting program's --check" ./check.run --check
expect_equal "nothing changed outside" "$(stat -c %a outside)$(cat outside)" "644outside"

expect_status 0 "unconfined" -- env WINQOR_TEST_UNCONFINED=1 WINQOR_TEST_FORBIDDEN=chmod \
  WINQOR_TEST_OUTSIDE="$work/outside" "$aze" -v test plain.aze
expect_match "unconfined, the probe's chmod is done" "$err" "sandbox probe: chmod: done"
expect_equal "unconfined, the mode changed: the test could fail" "$(stat -c %a outside)" "4777"

finish
