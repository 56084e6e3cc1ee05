#!/usr/bin/env bash
# The real winqor as a self-extracting program, without a display: its exit status says
# whether the run did all its work, or what the Setup.exe it started said.
# usage: winqor_run.sh AZE WINQOR
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
winqor=$(readlink -f "$2")
cd "$work"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p tree/docs
printf 'read me\n' > tree/README.txt
head -c 100000 /dev/urandom > tree/docs/blob.bin
printf 'secret\n' > password
"$aze" create -o plain.aze tree >/dev/null && "$aze" create -o encrypted.aze --password-file password tree >/dev/null ||
  fail "aze create"
expected=$(describe_tree tree)

expect_status 0 "sfx with the built winqor" -- "$aze" sfx -o pack.run --stub "$winqor" plain.aze
expect_status 0 "a complete run" -- ./pack.run
expect_equal "its tree" "$(describe_tree pack)" "$expected"
expect_match "its debug channel" "$err" "found SETUP_ARCHIVE resource"

cp plain.aze damaged.aze
printf '\x00\x00\x00\x00' | dd of=damaged.aze bs=1 seek=600 conv=notrunc status=none
expect_status 0 "sfx of a damaged archive" -- "$aze" sfx -o damaged.run --stub "$winqor" damaged.aze
expect_status 1 "a run whose digest does not match" -- ./damaged.run
expect_equal "its folder stays empty" "$(describe_tree damaged)" "D ."

expect_status 0 "sfx again" -- "$aze" sfx -o blocked.run --stub "$winqor" plain.aze
printf 'a file, not a folder' > blocked
expect_status 1 "output folder blocked by a file" -- ./blocked.run
expect_equal "the file is untouched" "$(cat blocked)" "a file, not a folder"

expect_status 0 "sfx of an encrypted archive" -- "$aze" sfx -o enc.run --stub "$winqor" encrypted.aze
expect_status 1 "no display and no terminal abandons the run" -- ./enc.run </dev/null
[ ! -e enc ] || fail "an abandoned run created its folder"

mkdir -p app && printf '#!/bin/sh\nexit 7\n' > app/Setup.exe
expect_status 0 "sfx that runs Setup.exe" -- "$aze" sfx -o app.run --stub "$winqor" --run-setup app
expect_status 7 "the run exits with Setup.exe's status" -- ./app.run
printf '#!/bin/sh\nexit 0\n' > app/Setup.exe
expect_status 0 "sfx again, Setup.exe succeeding" -- "$aze" sfx -o app.run --stub "$winqor" --run-setup app
expect_status 0 "then the run exits 0" -- ./app.run
mkdir -p app/lib half/lib/data.txt && printf 'data\n' > app/lib/data.txt
expect_status 0 "sfx whose walk will fail" -- "$aze" sfx -o half.run --stub "$winqor" --run-setup app
expect_status 1 "a half-written tree starts no Setup.exe: the run fails" -- ./half.run

expect_status 1 "winqor as built, without a display" -- "$winqor"
expect_match "one clear line" "$err" "winqor: cannot open a display"
# Switches are a self-extracting program's only: the installed winqor opens its window.
expect_status 1 "winqor as built, with a switch" -- "$winqor" --help
expect_match "the window's line" "$err" "winqor: cannot open a display"
expect_status 201 "the real program reads its switches" -- ./pack.run --target
expect_status 0 "and unpacks where told" -- ./pack.run --target elsewhere
expect_equal "there" "$(describe_tree elsewhere)" "$expected"
finish
