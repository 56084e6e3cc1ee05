#!/usr/bin/env bash
# The child that reads an archive is a sandbox, whoever runs it: taken over (the test builds'
# probe plays a decoder bug that runs the calls below after the walls are up, before the
# payload is touched), it keeps no capability and is refused every call that reaches outside
# its folder, into the kernel's or another process's state, or past plain files and folders
# beneath it, through every front end that decodes; and it leaves nothing behind. Threads and
# fchmod of its own new file to a plain mode stay allowed. Unconfined, the probe's calls
# succeed, so the test can fail.
# usage: sandbox_walls.sh AZE PROBE root|user (user: the runs are made as nobody, by setpriv)
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
probe=$(readlink -f "$2")
role=${3:-root}
cd "$work"

denied="Permission denied"
refused="Operation not permitted"
# Where there is no folder to write in, opening the entry the call needs is denied first.
either="($refused|$denied)"
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
mknod-block|$refused
mknod-char|$refused
mkfifo-inside|$refused
setuid|$either
create-setuid|$refused
sticky-folder|$refused
folder-to-all|$either
immutable|$either
fifreeze|$either
vhangup|$refused
syslog|$refused
acct|$refused
realtime|$refused
module|$refused
sethostname|$refused
umask|$refused
shm|$refused
msgqueue|$refused
semaphore|$refused
mq_open|$refused
parent-limit|$refused
parent-priority|$refused
parent-affinity|$refused
parent-ioprio|$refused
utimensat-path|$refused
inotify|$refused
fanotify|$refused
thread|done"
# As root the bounding set is emptied too; an ordinary user's cannot be (that needs a
# capability), and with no new privileges nothing can be gained from it.
if [ "$role" = root ]; then held=none; else held=bounding; fi
walls+="
capabilities|$held
core-limit|0"
calls=$(cut -d'|' -f1 <<<"$walls" | paste -sd,)

if [ "$role" = user ]; then
  # Everything the runs need, in a folder of nobody's own.
  mkdir user && chown 65534:65534 user && cd user
  as() { as_nobody "$@"; }
else
  as() { "$@"; }
fi
make_sample_archives "$aze"
printf 'outside\n' >"$work/outside" && chmod 644 "$work/outside"
[ "$role" = root ] || chown 65534:65534 "$work/outside"

WINQOR_TEST_FORBIDDEN=thread as "$aze" -v test plain.aze >/dev/null 2>seam.err
grep -q "sandbox probe" seam.err || { echo "skipped: this build carries no sandbox probe (WINQOR_TEST_SEAMS)"; exit 77; }
if ! grep -q "sandbox: walls up: .*files.*system-call allow-list" seam.err; then
  echo "skipped: this system cannot put up the sandbox's walls: $(grep -i 'sandbox\|confined' seam.err)"
  exit 77
fi
[ "$role" = root ] || chown -R 65534:65534 .

mkdir tree && printf 'setup\n' >tree/Setup.txt
"$aze" sfx -o inst.run --stub "$probe" tree >/dev/null || fail "aze sfx failed"
"$aze" sfx -o check.run tree >/dev/null || fail "aze sfx with winqor failed"
[ "$role" = root ] || chown -R 65534:65534 .

# probed WHAT COMMAND...: runs COMMAND with every call probed; checks each line of the table.
probed() {
  local what=$1
  shift
  expect_status 0 "$what" -- as env WINQOR_TEST_FORBIDDEN="$calls,fchmod" WINQOR_TEST_OUTSIDE="$work/outside" "$@"
  while IFS='|' read -r call ending; do
    expect_match "$what: $call" "$err" "sandbox probe: $call: $ending"
  done <<<"$walls"
  expect_match "$what says which walls are up" "$err" "sandbox: walls up: no capability, limits, files \(Landlock ABI [0-9]+\)"
  # Only the probe's prlimit64 on its parent (302) is on no list: the good path needs no call
  # that is missing.
  expect_equal "$what: no other call off the lists" \
    "$(grep 'not on the allow-list' <<<"$err" | grep -v 'system call 302 ' || true)" ""
}

probed "aze extract" "$aze" -v extract -C a plain.aze
expect_match "aze extract: fchmod of its own file" "$err" "sandbox probe: fchmod: done"
expect_equal "aze extract still extracts, and nothing else" "$(describe_tree a)" "$expected"
probed "aze list" "$aze" -v list plain.aze
expect_match "aze list: no file right without a folder" "$err" "sandbox probe: fchmod: $denied"
probed "aze test of an encrypted archive" "$aze" -v test --password-file "$work/sample-password" encrypted.aze
probed "a self-extracting program" ./inst.run
expect_match "the self-extracting run: fchmod of its own file" "$err" "sandbox probe: fchmod: done"
expect_equal "the self-extracting run left its tree alone" "$(cd inst && find . | LC_ALL=C sort | paste -sd' ')" ". ./Setup.txt"
probed "a self-extracting program's --check" ./check.run --check
expect_equal "nothing changed outside" "$(stat -c %a "$work/outside")$(cat "$work/outside")" "644outside"
[ ! -e /dev/mqueue/winqor-probe ] || fail "a POSIX message queue was left behind"
expect_equal "no probe entry left in the work folder" "$(find . -name 'sandbox-probe*' | wc -l)" 0

expect_status 0 "unconfined" -- as env WINQOR_TEST_UNCONFINED=1 WINQOR_TEST_FORBIDDEN=chmod \
  WINQOR_TEST_OUTSIDE="$work/outside" "$aze" -v test plain.aze
expect_match "unconfined, the probe's chmod is done" "$err" "sandbox probe: chmod: done"
expect_equal "unconfined, the mode changed: the test could fail" "$(stat -c %a "$work/outside")" "4777"

finish
