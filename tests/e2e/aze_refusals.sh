#!/usr/bin/env bash
# What aze refuses, with which exit status: each refusal is one line on standard error, and
# what aze only warns about still succeeds. PROBE stands in for winqor (see aze_sfx.sh).
# usage: aze_refusals.sh AZE PROBE PACK_TREE
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
probe=$(readlink -f "$2")
pack=$(readlink -f "$3")
cd "$work"

mkdir -p app no-setup/sub leftover
printf 'x\n' | tee app/Setup.exe no-setup/a.txt no-setup/sub/Setup.exe leftover/a.txt >/dev/null
: >leftover/.winqor-1234-5678.partial
printf 'Secret1\n' >password
printf '0123456789abcdef\n' >long-password
# A stub too large to be a program: sparse, so it costs no disk.
truncate -s $(((1 << 30) + 1)) big
"$aze" create -o encrypted.aze --password-file password app >/dev/null || fail "aze create"
cp encrypted.aze $'\xff.aze'
# Archives that ask for Setup.exe without carrying one at their top: only another writer makes them.
"$pack" no-setup asks.aze --run-setup && "$pack" no-setup asks-encrypted.aze --run-setup \
  --password Secret1 || fail "pack_tree"

# status | the one line on standard error (an extended regular expression) | aze's arguments
while IFS='|' read -r want line arguments; do
  eval "set -- $arguments"
  expect_status "$want" "aze $arguments" -- "$aze" "$@"
  expect_equal "aze $arguments: lines on standard error" "$(printf '%s' "$err" | grep -c '')" 1
  expect_match "aze $arguments: its line" "$err" "$line"
done <<'TABLE'
2|^aze: ARCHIVE is required \(see aze --help\)$|list
2|^aze: The following argument was not expected: --bogus \(see aze --help\)$|test --bogus encrypted.aze
2|^aze: is a folder, not an archive: app$|list app
2|^aze: is a folder, not an archive: app$|test app
2|^aze: is a folder, not an archive: app$|extract -C out app
1|^aze: the password is longer than 15 characters|list --password-file long-password encrypted.aze
1|^aze: the password is longer than 15 characters|test --password-file long-password encrypted.aze
1|^aze: the password is longer than 15 characters|extract -C out --password-file long-password encrypted.aze
1|^aze: --run-setup needs a Setup.exe at the top of the folder: no-setup$|create --run-setup -o x.aze no-setup
1|^aze: --run-setup needs a Setup.exe at the top of the folder: no-setup$|sfx --stub "$probe" --run-setup -o x.run no-setup
1|^aze: the archive asks to start a Setup.exe that it does not carry at its top: asks.aze$|sfx --stub "$probe" -o x.run asks.aze
1|^aze: the archive's name is not valid UTF-8: \\xff\.aze$|info $'\xff.aze'
1|^aze: the archive's name is not valid UTF-8: \\xff\.aze$|list $'\xff.aze'
2|^aze: not a winqor program: larger than 1 GiB \(give --stub PATH\): big$|sfx --stub big -o x.run app
2|^aze: --windows needs a Windows winqor.exe, and this is a Linux \(ELF\) program; leave out --windows to make a Linux program: .*/sfx_probe$|sfx --windows --stub "$probe" -o x.exe app
2|^aze: --windows needs a Windows winqor.exe, and this is none: encrypted.aze$|sfx --windows --stub encrypted.aze -o x.exe app
0|^aze: warning: the archive is encrypted, so whether it carries the Setup.exe|sfx --stub "$probe" -o encrypted.run asks-encrypted.aze
0|^aze: warning: skipped the temporary file of an interrupted extraction \(it may be deleted\): leftover/\.winqor-1234-5678\.partial$|create -o leftover.aze leftover
TABLE
# An encrypted archive with no password file and no terminal to ask on: refused, nothing written.
for command in list test "extract -C out"; do
  expect_status 1 "aze $command of an encrypted archive, no terminal" -- \
    sh -c 'exec "$0" $1 encrypted.aze </dev/null' "$aze" "$command"
  expect_equal "aze $command: it says why" "$err" "aze: the archive is encrypted: give --password-file"
done
[ ! -e x.aze ] && [ ! -e x.run ] && [ ! -e x.exe ] && [ ! -e out ] || fail "a refused command wrote something"
expect_status 0 "aze list of the archive without the leftover" -- "$aze" list leftover.aze
expect_equal "the leftover is not in it" "$out" "$(printf 'D .\nF a.txt 2')"

# A self-extracting run whose output folder's name is taken by a file says so.
"$aze" sfx --stub "$probe" -o taken.run app >/dev/null || fail "aze sfx"
printf 'a file\n' >taken
expect_status 0 "a run whose output folder is a file" -- ./taken.run
expect_equal "it fails" "$out" "result 1"
expect_match "it says why" "$err" "^winqor: $work/taken: cannot create the output folder: a file of that name is in the way$"
finish
