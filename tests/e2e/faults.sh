#!/usr/bin/env bash
# Faults from outside while extracting: a full disk, folders without write permission, an
# archive that ends while it is read, and a Setup.exe that ends at once, never ends or cannot be
# started, or a walk that fails before Setup.exe would start. Each keeps what existed before and writes nothing outside its destination.
# usage: faults.sh AZE SFX_PROBE PACK_TREE
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
probe=$(readlink -f "$2")
pack=$(readlink -f "$3")
mkdir -p "$work/space" && cd "$work/space"
chmod 777 .
make_sample_archives "$aze"

# Everything in the working folder except below DEST.
outside() {
  describe_tree . | grep -vE "^[DF] $1(/| |$)"
}

# --- the disk fills up: the write fails, the program says so and is not killed ---
mkdir full && printf 'kept' >full/keep.txt
before=$(outside full)
# tool.bin (70,000 bytes) passes the 40 KB limit; README.txt (16 bytes) comes before it.
expect_status 3 "extraction onto a full disk" -- bash -c 'ulimit -f 40; exec "$0" extract -C full plain.aze' "$aze"
expect_equal "full disk message" "$err" "aze: cannot write a file completely: $PWD/full/tool.bin"
# Nothing takes its name before the whole archive is written: the file written before the one
# cut short goes with it, and no temporary of either is left.
expect_equal "what existed stays, alone" "$(cat full/keep.txt)" "kept"
expect_equal "nothing written stays, no temporary is left" "$(ls -A full | LC_ALL=C sort | tr '\n' ' ')" \
  "keep.txt "
expect_equal "nothing outside the destination" "$(outside full)" "$before"

mkdir dist
"$aze" sfx -o dist/plain.run --stub "$probe" plain.aze >/dev/null || fail "aze sfx failed"
before=$(outside dist/plain)
expect_status 0 "self-extracting run onto a full disk" -- bash -c 'ulimit -f 40; exec "$0"' dist/plain.run
expect_equal "the run ends as a run that took place" "$out" "result 1"
expect_equal "not even its first file stays" "$(ls -A dist/plain)" ""
expect_equal "nothing outside its folder" "$(outside dist/plain)" "$before"

# --- the disk fills up late in an archive of several blocks, which is written while it decodes:
# the files of the first blocks were written beside their names, and go with the rest ---
mkdir -p late/src/a late/src/z late/out && printf 'kept' >late/out/keep.txt
for name in one two three; do head -c 1000000 /dev/urandom | base64 >"late/src/a/$name"; done
head -c 2000000 /dev/urandom | base64 >late/src/z/last
"$aze" create -o late.aze late/src >/dev/null </dev/null || fail "aze create of the late tree failed"
before=$(outside late/out)
expect_status 3 "a full disk at the last file of five blocks" -- \
  bash -c 'ulimit -f 2000; exec "$0" extract -C late/out late.aze' "$aze"
expect_equal "its message" "$err" "aze: cannot write a file completely: $PWD/late/out/z/last"
expect_equal "what existed stays, alone, with no temporary" "$(ls -A late/out)" "keep.txt"
expect_equal "nothing outside the late destination" "$(outside late/out)" "$before"

# --- folders without write permission (as an unprivileged user, so that permissions apply) ---
mkdir -p ro/docs && printf 'old' >ro/docs/old.txt && chmod 555 ro/docs && chmod 777 ro
before=$(outside ro)
expect_status 3 "a read-only folder of the archive" -- as_nobody "$aze" extract -C ro plain.aze
expect_equal "read-only folder message" "$err" "aze: cannot create a file: $PWD/ro/docs/empty.txt"
expect_equal "the root's files, written before, are removed" "$(ls -A ro)" "docs"
expect_equal "what was in the folder stays" "$(cat ro/docs/old.txt)" "old"
expect_equal "nothing new in the folder" "$(ls ro/docs)" "old.txt"
expect_equal "nothing outside the read-only destination" "$(outside ro)" "$before"

# --- an archive that ends while it is read: a pipe that closes early ---
mkfifo cut.aze short.aze
(head -c 400 plain.aze >cut.aze &)
expect_status 1 "an archive that ends after its header" -- timeout 20 "$aze" extract -C cut cut.aze
expect_equal "its message" "$err" "aze: damaged archive: it ends before its payload does: cut.aze"
[ ! -e cut ] || fail "an archive that ended early created its destination"
(head -c 100 plain.aze >short.aze &)
expect_status 1 "a pipe that ends within the header" -- timeout 20 "$aze" test short.aze
expect_equal "its message" "$err" "aze: not an archive: shorter than its 256-byte header: short.aze"
expect_status 0 "a whole archive through a pipe" -- bash -c '"$0" extract -C piped <(cat plain.aze)' "$aze"
expect_equal "the piped tree" "$(describe_tree piped)" "$expected"

# --- Setup.exe: ends at once, never ends, cannot be started ---
# make_setup NAME SETUP_CONTENT: a self-extracting dist/NAME.run whose Setup.exe holds that text.
make_setup() {
  mkdir -p "$1/lib" && printf 'data\n' >"$1/lib/data.txt" && printf '%b' "$2" >"$1/Setup.exe"
  "$pack" "$1" "$1.aze" --run-setup || fail "pack_tree $1 failed"
  "$aze" sfx -o "dist/$1.run" --stub "$probe" "$1.aze" >/dev/null || fail "aze sfx $1 failed"
}

# paused_after_setup TRACE: whether a process of the strace -f TRACE slept one second after its
# wait for a child that ended with status 7 (this Setup.exe) returned.
paused_after_setup() {
  awk '{ pid = $1 }
    /(wait4|waitid)[( ]/ && /EXITSTATUS\(s\) == 7\}/ && / = [1-9][0-9]*$/ { waited[pid] = 1 }
    /nanosleep\(/ && /tv_sec=1, tv_nsec=0/ && waited[pid] { found = 1 }
    END { exit !found }' "$1"
}

make_setup quick "#!/bin/sh\nls -l /proc/\$\$/fd >'$work/space/quick.fds'\nexit 7\n"
if command -v strace >/dev/null; then
  # LeakSanitizer cannot work under ptrace: a sanitizer build checks leaks in the other runs.
  expect_status 0 "Setup.exe that ends at once" -- env ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" \
    strace -f -qq -o quick.trace -e trace=wait4,waitid,nanosleep,clock_nanosleep dist/quick.run
  checks=$((checks + 1))
  paused_after_setup quick.trace || fail "the run did not pause after its Setup.exe ended"
else
  expect_status 0 "Setup.exe that ends at once" -- dist/quick.run
  skip_checks 1 "strace is not installed (the pause after Setup.exe)"
fi
expect_equal "its run" "$out" "result 1"
expect_equal "its files" "$(cat dist/quick/lib/data.txt)" "data"
# Setup.exe inherits no descriptor of the run: not the program file, not a folder of the walk.
leaked=$(grep -E -- '-> .*(\.run|/dist/quick(/lib)?)$' quick.fds || true)
expect_equal "descriptors Setup.exe inherits" "$leaked" ""

make_setup never "#!/bin/sh\necho \$\$ >'$work/space/never.pid'\nexec sleep 600\n"
dist/never.run >never.out 2>never.err &
run=$!
# A thread of the process waits for a child.
waits_for_child() {
  grep -qx do_wait /proc/"$1"/task/*/wchan 2>/dev/null
}
for _ in $(seq 400); do [ -s never.pid ] && waits_for_child "$run" && break; sleep 0.05; done
checks=$((checks + 1))
waits_for_child "$run" || fail "the run did not wait for a Setup.exe that never ends"
expect_equal "nothing reported while it waits" "$(cat never.out)" ""
expect_equal "its files are there while it waits" "$(cat dist/never/lib/data.txt)" "data"
[ -s never.pid ] && kill "$(cat never.pid)"
for _ in $(seq 100); do kill -0 "$run" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$run" 2>/dev/null; then
  fail "the run did not end after its Setup.exe ended"
  kill "$run"
fi
wait "$run" && status=0 || status=$?
expect_equal "the run after Setup.exe was ended" "$status $(cat never.out)" "0 result 1"

make_setup broken 'this is text, not a program\n'
expect_status 0 "Setup.exe that cannot be started" -- dist/broken.run
expect_equal "its run" "$out" "result 1"
expect_equal "the files stay" "$(cat dist/broken/lib/data.txt)" "data"

# --- a walk that fails part way (a folder where the archive has a file): no Setup.exe on the
# half-written tree, and the run says which file failed and why ---
make_setup partial "#!/bin/sh\necho ran >'$work/space/partial.ran'\n"
mkdir -p dist/partial/lib/data.txt
# (The pipes of the test above stay in the working folder: the files beside the run are compared.)
beside() { describe_tree dist | grep -vE '^[DF] partial(/| |$)'; }
before=$(beside)
expect_status 0 "a run whose walk fails part way" -- dist/partial.run
expect_equal "its run" "$out" "result 1"
expect_match "the described line" "$err" "^qorOutputArchive:unexpected error$"
expect_match "then which file and why" "$err" \
  "^winqor: $PWD/dist/partial/lib/data.txt: cannot create a file: a folder of that name is in the way$"
[ ! -e partial.ran ] || fail "Setup.exe started on a half-written tree"
expect_equal "nothing beside its folder" "$(beside)" "$before"

finish
